#pragma once

// The program started with an action on its command line: the three actions without windows,
// the help, the version and usage errors, as the console twin and the windowed program both
// run them.

#include <ostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "ports/ui.h"

namespace tarnu::win32 {

// The arguments after the program's name, from the process's Unicode command line, as UTF-8.
std::vector<std::string> CommandLineArguments();

// The application object of this program with its program folder: TARNU_PROGRAM_FOLDER when
// set, else the executable's folder. Raises BadNameError for a folder the code page cannot
// carry. twin is true for the console twin, which reads and writes the settings file of the
// program beside it: its name without the "-cli" of the twin's.
ui::AppObject ProgramObject(bool twin = false);

// Runs what the command line asked for when it is not the windows: help and version to out, a
// usage error's usage to err, or one action with its texts to out and err. Returns the exit
// status (0, 1, or 2 for a usage error). COM must be initialised on the calling thread.
int RunWithoutWindows(app::Action action, bool twin, std::ostream& out, std::ostream& err);

}  // namespace tarnu::win32
