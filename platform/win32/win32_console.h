#pragma once

// Text output of a run without windows. The program's texts are UTF-8 and German; a console
// window shows them right only as Unicode (WriteConsoleW), whatever its code page and font. Output
// that goes to a file or a pipe is written in the console's code page (the OEM one, 850 on
// German Windows), which is what cmd's "type", "more" and "for /f" and PowerShell expect of a
// console program; without any console, in the ANSI code page.

#include <ostream>
#include <streambuf>
#include <string>

namespace tarnu::win32 {

class ConsoleBuffer : public std::streambuf {
  public:
    // handle is a HANDLE; null or INVALID_HANDLE_VALUE drops everything written.
    explicit ConsoleBuffer(void* handle) : handle_(handle) {}
    ~ConsoleBuffer() override;
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

    // Whether anything is written at all.
    bool Connected() const;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    // Whole lines are handed on, so that a character's UTF-8 bytes never part.
    void Write(const std::string& utf8);

    void* handle_;
    std::string pending_;
};

// An output stream over one of the process's standard handles.
class ConsoleStream : public std::ostream {
  public:
    // which is STD_OUTPUT_HANDLE or STD_ERROR_HANDLE.
    explicit ConsoleStream(unsigned long which);
    ~ConsoleStream() override;
    bool Connected() const { return buffer_.Connected(); }

  private:
    ConsoleBuffer buffer_;
};

// The bytes of a UTF-8 text in a code page; what the code page lacks becomes "?", since a text
// that is only shown is better shown in part than not at all.
std::string InCodePage(const std::string& utf8, unsigned codePage);

}  // namespace tarnu::win32
