#pragma once

// The shell's file operation as the program file copy hands it one request.

#include <cstdint>
#include <string>

namespace tarnu {

constexpr std::uint32_t FO_COPY = 2;
constexpr std::uint16_t FOF_NOCONFIRMATION = 0x0010;
constexpr std::uint16_t FOF_ALLOWUNDO = 0x0040;
constexpr std::uint16_t FOF_NOCONFIRMMKDIR = 0x0200;

struct SHFILEOPSTRUCTA {
    std::intptr_t hwnd = 0;
    std::uint32_t wFunc = 0;
    std::string pFrom;  // NUL-separated list closed by an empty item
    std::string pTo;
    std::uint16_t fFlags = 0;
    bool fAnyOperationsAborted = false;
    std::intptr_t hNameMappings = 0;
    const char* lpszProgressTitle = nullptr;
};

class ShellApi {
  public:
    virtual ~ShellApi() = default;
    // Returns 0 on success; sets fAnyOperationsAborted when any part was aborted.
    virtual int SHFileOperationA(SHFILEOPSTRUCTA& request) = 0;
};

}  // namespace tarnu
