// Arbitrary settings file contents, names and values through the reader and a write. Besides
// the sanitizers it checks that a write stores what a read then finds, leaves another value
// alone, and that the file functions agree with the text rules they are built on.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/posix/ini_profile.h"

namespace {

using tarnu::posix::IniProfile;
namespace ini = tarnu::posix::ini;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ini_fuzz: %s\n", what);
    std::abort();
}

std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string AsRead(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Names that a file can hold as they are: an "=" in a key would end the key early, a key that
// starts like a header or a byte order mark would be read as something else.
bool Representable(const std::string& key) {
    const std::string_view k = Trim(key);
    return k.find('=') == std::string_view::npos && (k.empty() || k.front() != '[') &&
           k.substr(0, 3) != "\xEF\xBB\xBF";
}

std::string& FolderName() {
    static std::string folder;
    return folder;
}

void RemoveFolder() {
    ::unlink((FolderName() + "/t.ini").c_str());
    ::rmdir(FolderName().c_str());
}

// One folder for the whole run, in memory where there is such a file system.
const std::string& Folder() {
    std::string& folder = FolderName();
    if (folder.empty()) {
        std::string pattern =
            std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/ini-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            Fail("no temporary folder");
        }
        folder = pattern;
        std::atexit(RemoveFolder);
    }
    return folder;
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = UpToNul(in.ConsumeRandomLengthString(24));
    const std::string key = UpToNul(in.ConsumeRandomLengthString(24));
    const std::string value = UpToNul(in.ConsumeRandomLengthString(64));
    const std::string probeSection = UpToNul(in.ConsumeRandomLengthString(24));
    const std::string probeKey = UpToNul(in.ConsumeRandomLengthString(24));
    const std::uint32_t bufferSize = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    const std::string content = in.ConsumeRemainingBytesAsString();

    // Reading through the file agrees with the text rules and keeps to the buffer.
    const std::string path = Folder() + "/t.ini";
    Put(path, content);
    IniProfile profile;
    const std::optional<std::string> found = ini::FindValue(content, section, key);
    const std::string expectedRead = found ? *found : ini::DefaultForm(value);
    std::vector<char> buffer(bufferSize + 1, 'Z');
    const std::uint32_t n =
        profile.GetPrivateProfileStringA(section, key, value, buffer.data(), bufferSize, path);
    if (bufferSize == 0) {
        if (n != 0 || buffer[0] != 'Z') {
            Fail("a buffer of size 0 was touched");
        }
    } else if (n >= bufferSize || buffer[n] != '\0' || buffer[bufferSize] != 'Z' ||
               std::string(buffer.data(), n) != expectedRead.substr(0, bufferSize - 1)) {
        Fail("read through the file differs from the text rules");
    }

    const bool writable = ini::Writable(section) && ini::Writable(key) && ini::Writable(value);
    const int written = profile.WritePrivateProfileStringA(section, key, value, path);
    if (!writable) {
        if (written != 0 || Get(path) != content) {
            Fail("a refused write changed the file");
        }
        return 0;
    }
    const std::string updated = ini::SetValue(content, section, key, value);
    if (written != 1 || Get(path) != updated) {
        Fail("write through the file differs from the text rules");
    }
    if (!Representable(key)) {
        return 0;
    }
    const std::optional<std::string> after = ini::FindValue(updated, section, key);
    if (!after || *after != AsRead(value)) {
        Fail("the written value does not read back");
    }
    const std::optional<std::string> probeBefore = ini::FindValue(content, probeSection, probeKey);
    const std::optional<std::string> probeAfter = ini::FindValue(updated, probeSection, probeKey);
    if (probeAfter != probeBefore && probeAfter != after) {
        Fail("the write changed another value");
    }
    return 0;
}
