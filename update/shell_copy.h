#pragma once

#include <string>

#include "ports/shellcopy.h"

namespace tarnu::update {

inline constexpr const char* CopySuccessText = "Dateien wurden erfolgreich kopiert!";

// What the copy asks of the shell: no confirmations, target folders made without asking, and
// undo information where the platform keeps it.
constexpr std::uint16_t CopyFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;

// text without the space characters at both ends; tabs and other blanks stay.
std::string TrimSpaces(const std::string& text);

// Copies the one item source names to target through the shell, which shows its own progress
// and error reports. True only when the shell reports a complete success: status 0 and nothing
// aborted. Never raises: a copy that cannot even be started is a failure, not a success.
bool ShellCopy(ShellApi& shell, const std::string& source, const std::string& target);

}  // namespace tarnu::update
