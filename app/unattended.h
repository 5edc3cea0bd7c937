#pragma once

#include <ostream>
#include <string>

#include "app/command_line.h"
#include "dbmaint/engine_holder.h"
#include "ports/copy_survey.h"
#include "ports/files.h"
#include "ports/profile.h"
#include "ports/registry.h"
#include "ports/shellcopy.h"
#include "ports/ui.h"

namespace tarnu::app {

// Exit statuses of a run from the command line.
constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// What an unattended run needs of the platform. There are no windows: every text an action
// would show in a message box goes to out (information) or err (critical) instead.
struct UnattendedPorts {
    FileServices& files;
    dbmaint::EngineHolder::Factory makeEngine;
    reg::RegistryApi& registry;
    ProfileApi& profile;
    // A copy that shows no progress and no error box; it reports in writing, if at all.
    ShellApi& shell;
    // What the update looks at before it copies.
    CopySurveyApi& survey;
    ui::AppObject app;
    std::ostream& out;
    std::ostream& err;
};

// Runs one of the three actions as its button would, in the program folder, and returns the
// exit status: 0 for success, 1 for a failure. Help, version and usage errors are the caller's.
int RunUnattended(Action action, UnattendedPorts ports);

// "TARNU-System-Tool " and the version, for --version.
std::string VersionText();

}  // namespace tarnu::app
