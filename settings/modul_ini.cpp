#include "settings/modul_ini.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "ports/error.h"
#include "ports/files.h"

namespace tarnu {

namespace {

// The largest buffer a read asks with. No settings file the tool writes holds a longer value,
// and a profile function that kept filling every buffer must not make the module ask for ever
// more memory.
constexpr std::uint32_t kMaxBuffer = std::uint32_t{1} << 20;

}  // namespace

Modul_ini::Modul_ini(ProfileApi& profile, AppProvider app)
    : profile_(profile), app_(std::move(app)) {}

std::string Modul_ini::GetIniFileName() {
    if (!iniFileName_.empty()) {
        return iniFileName_;
    }
    const ui::AppObject app = app_();
    std::string path = app.Path;
    // A root folder already ends in the separator; every other folder comes without one.
    if (path.empty() || path.back() != PathSeparator()) {
        path += PathSeparator();
    }
    iniFileName_ = path + app.EXEName + ".ini";
    return iniFileName_;
}

const std::string& Modul_ini::FileFor(const std::string& fileName) {
    if (!fileName.empty()) {
        return fileName;
    }
    GetIniFileName();
    return iniFileName_;
}

std::string Modul_ini::ReadIniValue(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
    const std::string& file = FileFor(fileName);
    // The first attempt has the classic 255 places; a folder path can be longer, and the
    // window writes back what it read, so a cut value would be lost for good. While the
    // profile function fills the buffer to the brim there may be more: ask again with more
    // room, up to kMaxBuffer, beyond which a value is cut as the profile function cuts it.
    std::uint32_t size = 255;
    std::vector<char> buffer(size + 1);
    for (;;) {
        std::uint32_t count = profile_.GetPrivateProfileStringA(section, key, defaultValue,
                                                                buffer.data(), size, file);
        count = std::min(count, size - 1);
        if (count < size - 1 || size == kMaxBuffer) {
            return std::string(buffer.data(), count);
        }
        size = std::min(size * 2, kMaxBuffer);
        buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
    }
}

void Modul_ini::WriteIniValue(const std::string& section, const std::string& key,
                              const std::string& value, const std::string& fileName) {
    const std::string& file = FileFor(fileName);
    if (profile_.WritePrivateProfileStringA(section, key, value, file) == 0) {
        throw Error(err::InvalidProcedureCall);
    }
}

}  // namespace tarnu
