#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarnu::app {

// What the program was asked to do on its command line. Without an action it is the program
// with its windows; with one it runs that action unattended and ends.
enum class Action {
    Windows,
    Compact,
    DisableSecurityWarning,
    Update,
    Help,
    Version,
    UsageError,
};

// How many values follow an option of the window system's own (such as "-platform offscreen"),
// or -1 when the argument is no such option.
using PlatformOptionArity = std::function<int(const std::string& argument)>;

// args are the arguments after the program's name. The window system's options are allowed only
// when no action is asked for, since an unattended run has no windows; anything else unknown, or
// two different actions, is a usage error.
Action ParseCommandLine(const std::vector<std::string>& args,
                        const PlatformOptionArity& platformOption);

// The usage, for --help and after a usage error. A program without windows of its own (the
// console twin on Windows) needs an action. programFolder, where given, tells which program
// folder this run uses and why (ProgramFolderText) in place of the general rule.
std::string UsageText(const std::string& programName, bool windowed = true,
                      const std::string& programFolder = "");

}  // namespace tarnu::app
