#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarnu {

// Error numbers of the platform's own runtime errors that the system raises or meets.
namespace err {
constexpr std::int32_t InvalidProcedureCall = 5;
constexpr std::int32_t OutOfMemory = 7;
constexpr std::int32_t SubscriptOutOfRange = 9;
constexpr std::int32_t InternalError = 51;
constexpr std::int32_t FileNotFound = 53;
constexpr std::int32_t DeviceIoError = 57;
constexpr std::int32_t FileAlreadyExists = 58;
constexpr std::int32_t DiskFull = 61;
constexpr std::int32_t PermissionDenied = 70;
constexpr std::int32_t PathFileAccessError = 75;
constexpr std::int32_t PathNotFound = 76;
}  // namespace err

// The platform's German description of one of its own error numbers; a generic text for others.
std::string standardErrorDescription(std::int32_t number);

// An error as procedures raise and catch it: a number and a description. Everything that can
// go wrong in an action travels as one of these, so the one handler of an action can report it.
class Error : public std::runtime_error {
  public:
    Error(std::int32_t number, std::string description);
    // An error of the platform's own, carrying its standard description.
    explicit Error(std::int32_t number);

    std::int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

  private:
    std::int32_t number_;
    std::string description_;
};

// Inside a catch block: the exception being handled as one of our errors. Errors of the C++
// runtime (memory, a library's own exceptions) map to the platform's nearest error, so that a
// handler can always show a number and a text.
Error CurrentError();

}  // namespace tarnu
