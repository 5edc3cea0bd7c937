#include "platform/win32/win32_copy_survey.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/win32/text.h"

#include <windows.h>

namespace tarnu::win32 {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.empty() || IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

// The folder part of a path and its last part; a separator at the end is not a part.
std::pair<std::string, std::string> SplitPath(std::string path) {
    while (path.size() > 1 && IsSeparator(path.back())) {
        path.pop_back();
    }
    const std::size_t at = path.find_last_of("\\/");
    if (at == std::string::npos) {
        return {"", path};
    }
    return {path.substr(0, at + 1), path.substr(at + 1)};
}

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH * 2];
    const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

FileUse UseOf(const std::string& path) {
    char own[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameA(nullptr, own, sizeof own);
    if (n > 0 && n < sizeof own && ::lstrcmpiA(FullPath(path).c_str(), own) == 0) {
        return FileUse::RunningProgram;
    }
    // No sharing at all: whoever has it open makes this fail, as the shell's replace would.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? FileUse::InUse : FileUse::Free;
    }
    ::CloseHandle(file);
    return FileUse::Free;
}

bool IsDotName(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

class Surveyor {
  public:
    explicit Surveyor(CopySurvey& survey) : survey_(survey) {}

    void File(const std::string& destination, std::uint64_t size) {
        SurveyedFile file;
        file.path = Utf8FromAnsi(destination);
        file.size = size;
        WIN32_FILE_ATTRIBUTE_DATA there{};
        if (::GetFileAttributesExA(destination.c_str(), GetFileExInfoStandard, &there) &&
            !(there.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            file.replaces = true;
            file.replacedSize =
                (static_cast<std::uint64_t>(there.nFileSizeHigh) << 32) | there.nFileSizeLow;
            file.use = UseOf(destination);
        }
        survey_.files.push_back(std::move(file));
    }

    // Every file below the folder source, as it would land below destination. Without
    // recursion: a deep tree costs no stack.
    void Folder(const std::string& source, const std::string& destination) {
        std::vector<std::pair<std::string, std::string>> pending{{source, destination}};
        while (!pending.empty()) {
            const auto [from, to] = std::move(pending.back());
            pending.pop_back();
            WIN32_FIND_DATAA found{};
            const HANDLE find = ::FindFirstFileA(JoinPath(from, "*").c_str(), &found);
            if (find == INVALID_HANDLE_VALUE) {
                continue;
            }
            do {
                if (IsDotName(found.cFileName)) {
                    continue;
                }
                const std::string src = JoinPath(from, found.cFileName);
                const std::string dst = JoinPath(to, found.cFileName);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    pending.emplace_back(src, dst);
                } else {
                    File(dst, (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                  found.nFileSizeLow);
                }
            } while (::FindNextFileA(find, &found));
            ::FindClose(find);
        }
    }

  private:
    CopySurvey& survey_;
};

}  // namespace

CopySurvey Win32CopySurvey::SurveyCopy(const std::string& source, const std::string& target) {
    CopySurvey survey;
    std::string from;
    std::string to;
    if (!TryAnsiFromUtf8(source, from) || !TryAnsiFromUtf8(target, to)) {
        return survey;  // the shell's port refuses such a name with its own message
    }
    if (from.empty()) {
        survey.outcome = SurveyOutcome::NoSource;
        return survey;
    }
    const auto [fromFolder, fromName] = SplitPath(from);
    const bool pattern = fromName.find_first_of("*?") != std::string::npos;
    const bool receiving = pattern || IsSeparator(to.empty() ? '\\' : to.back()) ||
                           IsFolder(Attributes(to.empty() ? "." : to));
    const std::string folder = receiving ? to : SplitPath(to).first;
    survey.folder = Utf8FromAnsi(folder);
    survey.outcome = SurveyOutcome::Surveyed;
    Surveyor surveyor(survey);

    if (pattern) {
        if (!fromFolder.empty() && !IsFolder(Attributes(fromFolder))) {
            survey.outcome = SurveyOutcome::NoSource;
            return survey;
        }
        WIN32_FIND_DATAA found{};
        const HANDLE find = ::FindFirstFileA(from.c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (IsDotName(found.cFileName)) {
                    continue;
                }
                const std::string dst = JoinPath(to, found.cFileName);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    surveyor.Folder(JoinPath(fromFolder, found.cFileName), dst);
                } else {
                    surveyor.File(dst, (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                           found.nFileSizeLow);
                }
            } while (::FindNextFileA(find, &found));
            ::FindClose(find);
        }
    } else {
        WIN32_FILE_ATTRIBUTE_DATA item{};
        if (!::GetFileAttributesExA(from.c_str(), GetFileExInfoStandard, &item)) {
            survey.outcome = SurveyOutcome::NoSource;
            return survey;
        }
        const std::string dst = receiving ? JoinPath(to, fromName) : to;
        if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            surveyor.Folder(from, dst);
        } else {
            surveyor.File(
                dst, (static_cast<std::uint64_t>(item.nFileSizeHigh) << 32) | item.nFileSizeLow);
        }
    }

    // The room of the drive the target is on: of its nearest folder that is there already.
    // None left: the drive of the current folder.
    std::string there = folder;
    while (!there.empty() && !IsFolder(Attributes(there))) {
        std::string up = SplitPath(there).first;
        there = up == there ? std::string() : std::move(up);
    }
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExA(there.empty() ? nullptr : there.c_str(), &available, nullptr,
                              nullptr)) {
        survey.freeBytes = available.QuadPart;
    }
    return survey;
}

}  // namespace tarnu::win32
