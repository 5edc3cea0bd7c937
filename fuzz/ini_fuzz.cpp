// Arbitrary settings file contents, names and values through the reader and a write. Besides
// the sanitizers it checks that a write stores what a read then finds, leaves another value
// alone, and that the file functions agree with the text rules they are built on.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/linux/posix/ini_profile.h"

namespace {

using tarnu::fuzz::Check;
using tarnu::posix::IniProfile;
namespace ini = tarnu::posix::ini;

std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
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
    const std::string path = tarnu::fuzz::ScratchFolder() + "/t.ini";
    tarnu::fuzz::WriteBytes(path, content);
    ::chmod(path.c_str(), 0644);  // run as root, only a file nobody else may write is read
    IniProfile profile;
    const std::optional<std::string> found = ini::FindValue(content, section, key);
    const std::string expectedRead = found ? *found : ini::DefaultForm(value);
    std::vector<char> buffer(bufferSize + 1, 'Z');
    const std::uint32_t n =
        profile.GetPrivateProfileStringA(section, key, value, buffer.data(), bufferSize, path);
    if (bufferSize == 0) {
        Check(n == 0 && buffer[0] == 'Z', "a buffer of size 0 was touched");
    } else {
        Check(n < bufferSize && buffer[n] == '\0' && buffer[bufferSize] == 'Z' &&
                  std::string(buffer.data(), n) == expectedRead.substr(0, bufferSize - 1),
              "read through the file differs from the text rules");
    }

    const bool writable = ini::Writable(section) && ini::Writable(key) && ini::Writable(value);
    const int written = profile.WritePrivateProfileStringA(section, key, value, path);
    if (!writable) {
        Check(written == 0 && tarnu::fuzz::ReadBytes(path) == content,
              "a refused write changed the file");
        return 0;
    }
    const std::string updated = ini::SetValue(content, section, key, value);
    Check(written == 1 && tarnu::fuzz::ReadBytes(path) == updated,
          "write through the file differs from the text rules");
    // Written, the value reads back as from a file of that one line; a key that the file cannot
    // hold as it is (an "=" in it, or read as a header or byte order mark) is not found there.
    const std::optional<std::string> alone = ini::FindValue(key + "=" + value, "", key);
    if (!alone) {
        return 0;
    }
    const std::optional<std::string> after = ini::FindValue(updated, section, key);
    Check(after == alone, "the written value does not read back");
    const std::optional<std::string> probeBefore = ini::FindValue(content, probeSection, probeKey);
    const std::optional<std::string> probeAfter = ini::FindValue(updated, probeSection, probeKey);
    Check(probeAfter == probeBefore || probeAfter == after, "the write changed another value");
    return 0;
}
