#include "platform/linux/posix/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"
#include "ports/error.h"
#include "ports/printable_name.h"

namespace tarnu::posix {

namespace ini {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct Line {
    std::string_view text;  // without its line end
    std::string_view end;   // "\r\n", "\n", "\r" or, for a last line without one, ""
};

struct Lines {
    std::string_view bom;
    std::vector<Line> lines;
};

// CR LF, LF and a lone CR all end a line, as they do for the Windows functions.
Lines Split(std::string_view content) {
    Lines out;
    if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        out.bom = content.substr(0, kByteOrderMark.size());
        content.remove_prefix(kByteOrderMark.size());
    }
    while (!content.empty()) {
        const std::size_t at = content.find_first_of("\r\n");
        if (at == std::string_view::npos) {
            out.lines.push_back({content, {}});
            break;
        }
        const std::size_t endLength =
            (content[at] == '\r' && at + 1 < content.size() && content[at + 1] == '\n') ? 2 : 1;
        out.lines.push_back({content.substr(0, at), content.substr(at, endLength)});
        content.remove_prefix(at + endLength);
    }
    return out;
}

// Ctrl-Z counts too: old editors closed text files with it.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

// The functions see C strings: a NUL ends the text.
std::string_view UpToNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

std::string_view StripQuotes(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
        return s.substr(1, s.size() - 2);
    }
    return s;
}

// Case folding of ASCII and of the Latin-1 letters in UTF-8 (the umlauts among them), which is
// what the Windows functions fold in a western code page.
std::string Fold(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + ('a' - 'A'));
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0xBF) {
                if (next <= 0x9E && next != 0x97) {  // 0x97 is the sign ×
                    out[i + 1] = static_cast<char>(next + 0x20);
                }
                ++i;
            }
        }
    }
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Fold(a) == Fold(b);
}

enum class Kind { Other, Header, Entry };

struct Classified {
    Kind kind = Kind::Other;
    std::string_view name;   // section name of a header, key of an entry, trimmed
    std::string_view value;  // value of an entry, trimmed
};

Classified Classify(std::string_view text) {
    const std::string_view t = Trim(UpToNul(text));
    if (!t.empty() && t.front() == '[') {
        // The name runs to the last closing bracket, so "[a]b]" is the section "a]b".
        const std::size_t close = t.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            return {Kind::Header, Trim(t.substr(1, close - 1)), {}};
        }
    }
    const std::size_t eq = t.find('=');
    if (eq != std::string_view::npos) {
        return {Kind::Entry, TrimRight(t.substr(0, eq)), TrimLeft(t.substr(eq + 1))};
    }
    return {};
}

// The lines of the first section of that name: the header's index (npos for the lines before
// any header, the section "") and the end of its body.
struct Section {
    bool found = false;
    std::size_t header = std::string_view::npos;
    std::size_t begin = 0;
    std::size_t end = 0;
};

Section FindSection(const std::vector<Line>& lines, std::string_view name) {
    const std::string wanted = Fold(name);
    Section result;
    bool inMatch = wanted.empty();
    if (inMatch) {
        result.found = true;
        result.begin = 0;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Classified c = Classify(lines[i].text);
        if (c.kind != Kind::Header) {
            continue;
        }
        if (inMatch) {
            result.end = i;
            return result;
        }
        if (Fold(c.name) == wanted) {
            inMatch = true;
            result = {true, i, i + 1, 0};
        }
    }
    if (inMatch) {
        result.end = lines.size();
    }
    return result;
}

std::string_view FirstLineEnd(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\r\n";
}

}  // namespace

std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key) {
    const Lines split = Split(content);
    const Section s = FindSection(split.lines, Trim(section));
    if (!s.found) {
        return std::nullopt;
    }
    const std::string_view wanted = Trim(key);
    for (std::size_t i = s.begin; i < s.end; ++i) {
        const Classified c = Classify(split.lines[i].text);
        if (c.kind == Kind::Entry && EqualNoCase(c.name, wanted)) {
            return std::string(StripQuotes(c.value));
        }
    }
    return std::nullopt;
}

std::string DefaultForm(std::string_view defaultValue) {
    // Only spaces go, as with Windows' functions: a tab at the end of a default stays.
    const std::size_t end = defaultValue.find_last_not_of(' ');
    return std::string(
        StripQuotes(defaultValue.substr(0, end == std::string_view::npos ? 0 : end + 1)));
}

bool Writable(std::string_view text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

std::string SetValue(std::string_view content, std::string_view section, std::string_view key,
                     std::string_view value) {
    const Lines split = Split(content);
    const std::vector<Line>& lines = split.lines;
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = Trim(key);
    const std::string_view fileLineEnd = FirstLineEnd(lines);

    std::string out(split.bom);
    out.reserve(content.size() + sectionName.size() + keyName.size() + value.size() + 8);
    auto emit = [&out](std::string_view text, std::string_view end) {
        out.append(text);
        out.append(end);
    };
    // A new line ends as the line before it does. That line ended the same way before, so its
    // end cannot run together with the start of the line that follows (a lone CR before an
    // empty LF line would). A last line without a line end gets the file's usual one.
    auto endAfter = [&](std::size_t index) {
        return index > 0 && !lines[index - 1].end.empty() ? lines[index - 1].end : fileLineEnd;
    };
    auto emitEntry = [&](std::string_view end) {
        out.append(keyName).append("=").append(value).append(end);
    };

    const Section s = FindSection(lines, sectionName);
    if (!s.found) {
        const std::string_view end = endAfter(lines.size());
        for (const Line& line : lines) {
            emit(line.text, line.end.empty() ? end : line.end);
        }
        out.append("[").append(sectionName).append("]").append(end);
        emitEntry(end);
        return out;
    }

    std::size_t replace = std::string_view::npos;
    for (std::size_t i = s.begin; i < s.end && replace == std::string_view::npos; ++i) {
        const Classified c = Classify(lines[i].text);
        if (c.kind == Kind::Entry && EqualNoCase(c.name, keyName)) {
            replace = i;
        }
    }
    if (replace != std::string_view::npos) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i != replace) {
                emit(lines[i].text, lines[i].end);
                continue;
            }
            // The key keeps its spelling and indentation from the file.
            const Classified c = Classify(lines[i].text);
            const std::string_view text = lines[i].text;
            const std::size_t indent = TrimLeft(text).data() - text.data();
            out.append(text.substr(0, indent)).append(c.name).append("=").append(value);
            out.append(lines[i].end);
        }
        return out;
    }

    // After the last line of the section that is not blank, so that blank lines separating it
    // from the next section stay where they are.
    std::size_t insert = s.header == std::string_view::npos ? 0 : s.header + 1;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        if (!Trim(lines[i].text).empty()) {
            insert = i + 1;
        }
    }
    const std::string_view end = endAfter(insert);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == insert) {
            emitEntry(end);
        }
        emit(lines[i].text, lines[i].end.empty() && i + 1 == insert ? end : lines[i].end);
    }
    if (insert == lines.size()) {
        emitEntry(end);
    }
    return out;
}

}  // namespace ini

namespace {

using files::UniqueFd;

// The largest settings file read or written. The tool keeps two folder paths in it; a larger
// file is not one it wrote, and reading it whole would only cost memory.
constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

std::string CString(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// Whether this run may believe the settings file it opened: a root run only one of root's that
// nobody else may write, since the file decides from where and to where root copies.
bool Believable(int fd) {
    struct stat st {};
    return ::geteuid() != 0 || (::fstat(fd, &st) == 0 && st.st_uid == 0 && (st.st_mode & 022) == 0);
}

// The content of the settings file; nullopt when there is none to read. The path is walked
// with the link rule and only a regular file of at most kMaxFileSize is opened: anything else
// (a refused link, a FIFO, a device, a folder, a larger file) reads as a missing file, at once
// and without ever being opened.
std::optional<std::string> ReadSettingsFile(const std::string& path) {
    files::Request request;
    request.mayBeMissing = true;
    files::Reached reached;
    if (files::Walk(path, request, reached) != 0 || !reached.fd.ok()) {
        return std::nullopt;
    }
    if (!Believable(reached.fd.get())) {
        throw Error(err::PermissionDenied, UntrustedSettingsText(path));
    }
    std::string content;
    if (files::ReadWhole(reached.fd.get(), kMaxFileSize, content) != 0) {
        return std::nullopt;
    }
    return content;
}

// Writes content into the new file fd of name temp in folder and makes it durable; the file is
// removed again when that fails. fd stays open: its file system is flushed once the file has
// its name.
bool FillTemporary(int folder, const UniqueFd& fd, const std::string& temp,
                   std::string_view content) {
    if (files::WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0) {
        return true;
    }
    ::unlinkat(folder, temp.c_str(), 0);
    return false;
}

// Puts content in the place of the settings file `name` in folder through a new file beside it.
// like says whose file it is and with which permissions.
bool ReplaceWhole(int folder, const std::string& name, const struct stat& like,
                  std::string_view content) {
    UniqueFd fd;
    std::string temp;
    if (files::CreateTemporary(folder, "." + name + ".", "", 0600, fd, temp) != 0) {
        return false;
    }
    struct stat own {};
    if (::fstat(fd.get(), &own) == 0 && (own.st_uid != like.st_uid || own.st_gid != like.st_gid)) {
        // Only root can give the file back to its owner; anyone else makes it their own.
        [[maybe_unused]] const int ignored = ::fchown(fd.get(), like.st_uid, like.st_gid);
    }
    if (::fchmod(fd.get(), like.st_mode & 07777) != 0) {
        ::unlinkat(folder, temp.c_str(), 0);
        return false;
    }
    if (!FillTemporary(folder, fd, temp, content)) {
        return false;
    }
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
        ::unlinkat(folder, temp.c_str(), 0);
        return false;
    }
    // The new file has its name: the write is done, whatever the flush of that name says.
    files::SyncFolder(folder, fd.get());
    return true;
}

// Makes the file `name` in folder, which does not exist yet, with content: it is written in
// full under a temporary name first and then takes its name only if that is still free, so
// that no empty or half-written settings file is ever seen, nor left by a write that fails.
// The file gets the permissions of any new file (0666 less the umask), except that one made by
// root is never writable by its group or others: root believes no other (Believable). Returns
// 0, EEXIST when another writer made the file first, or the errno of the failure.
int CreateWhole(int folder, const std::string& name, std::string_view content) {
    UniqueFd fd;
    std::string temp;
    const mode_t mode = ::geteuid() == 0 ? 0644 : 0666;
    if (const int error = files::CreateTemporary(folder, "." + name + ".", "", mode, fd, temp)) {
        return error;
    }
    if (!FillTemporary(folder, fd, temp, content)) {
        return EIO;
    }
    int result = 0;
    if (::renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_NOREPLACE) != 0) {
        result = errno;
        if (result == EINVAL) {
            // A file system that cannot rename without replacing: a hard link takes the name
            // just as exclusively where there are hard links, and elsewhere only a plain rename
            // is left (a writer making the file in the same instant may then lose its value).
            result = ::linkat(folder, temp.c_str(), folder, name.c_str(), 0) == 0 ? 0 : errno;
            if (result == EPERM || result == EOPNOTSUPP) {
                result = ::renameat(folder, temp.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
            }
        }
        ::unlinkat(folder, temp.c_str(), 0);
    }
    if (result == 0) {
        files::SyncFolder(folder, fd.get());
    }
    return result;
}

}  // namespace

std::string UntrustedSettingsText(const std::string& path) {
    const std::string shown = PrintableName(path);
    return "Die Einstellungsdatei \"" + shown +
           "\" wird nicht verwendet: Bei einem Lauf als root gilt sie nur, wenn sie root gehört "
           "und weder die Gruppe noch andere sie ändern dürfen. Sonst könnte ein anderer "
           "Benutzer bestimmen, von wo und wohin root Dateien kopiert. Bitte prüfen Sie ihren "
           "Inhalt und ändern Sie dann als root Besitzer und Rechte:\n"
           "chown root '" +
           shown + "'\nchmod go-w '" + shown + "'";
}

std::uint32_t IniProfile::GetPrivateProfileStringA(const std::string& section,
                                                   const std::string& key,
                                                   const std::string& defaultValue, char* buffer,
                                                   std::uint32_t size,
                                                   const std::string& fileName) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::optional<std::string> value;
    const std::string path = CString(fileName);
    if (!path.empty()) {
        if (const std::optional<std::string> content = ReadSettingsFile(path)) {
            value = ini::FindValue(*content, CString(section), CString(key));
        }
    }
    const std::string text = value ? *value : ini::DefaultForm(CString(defaultValue));
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<std::uint32_t>(count);
}

int IniProfile::WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& value, const std::string& fileName) {
    const std::string s = CString(section);
    const std::string k = CString(key);
    const std::string v = CString(value);
    const std::string path = CString(fileName);
    if (path.empty() || !ini::Writable(s) || !ini::Writable(k) || !ini::Writable(v)) {
        return 0;
    }
    // The lock sits on the settings file itself. A writer that waited for it may find the
    // file replaced by the one before it and then locks the new file instead. Each round walks
    // the path afresh under the link rule; what it reaches is then worked on only through the
    // descriptors it handed out.
    const auto deadline = std::chrono::steady_clock::now() + lockWait_;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        files::Request request;
        request.access = O_RDWR;
        request.mayBeMissing = true;
        files::Reached file;
        if (files::Walk(path, request, file) != 0) {
            return 0;
        }
        const int folder = file.folder.get();
        if (!file.fd.ok()) {
            const int created = CreateWhole(folder, file.name, ini::SetValue("", s, k, v));
            if (created == EEXIST) {
                continue;  // another writer made it first: change what it wrote
            }
            return created == 0 ? 1 : 0;
        }
        struct stat held {};
        struct stat named {};
        if (LockExclusive(file.fd.get(), deadline) != 0 || ::fstat(file.fd.get(), &held) != 0) {
            return 0;
        }
        if (::fstatat(folder, file.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !files::SameFile(named, held)) {
            continue;
        }
        std::string content;
        if (files::ReadWhole(file.fd.get(), kMaxFileSize, content) != 0) {
            return 0;
        }
        const std::string updated = ini::SetValue(content, s, k, v);
        if (updated.size() > kMaxFileSize) {
            return 0;  // it could not be read again
        }
        return ReplaceWhole(folder, file.name, held, updated) ? 1 : 0;
    }
    return 0;
}

}  // namespace tarnu::posix
