#pragma once

// The program's settings file: an INI file beside the executable that carries its name. The
// application keeps one Modul_ini for the whole run; it works the file's path out on first use
// and holds it from then on.

#include <functional>
#include <string>

#include "ports/profile.h"
#include "ports/ui.h"

namespace tarnu {

class Modul_ini {
  public:
    // Tells where the running executable lies and what it is called (App.Path, App.EXEName).
    // Asked at most once per Modul_ini, so a change of answer later has no effect.
    using AppProvider = std::function<ui::AppObject()>;

    // Both must outlive the object. The application passes e.g. [&ui] { return ui.App(); }.
    Modul_ini(ProfileApi& profile, AppProvider app);

    // The full path of the settings file: the executable's folder, its name without extension
    // and ".ini".
    std::string GetIniFileName();

    // The value of key in section of fileName (the settings file when fileName is empty), or
    // defaultValue when the file, the section or the key is missing. Fails only where the
    // platform does not believe the file in this run (ProfileApi): then its error is raised.
    std::string ReadIniValue(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& fileName);

    // Stores value under key in section of fileName (the settings file when fileName is empty),
    // creating what is missing. Raises tarnu::Error 5 when the file cannot be written.
    void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                       const std::string& fileName);

  private:
    const std::string& FileFor(const std::string& fileName);

    ProfileApi& profile_;
    AppProvider app_;
    std::string iniFileName_;
};

}  // namespace tarnu
