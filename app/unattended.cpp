#include "app/unattended.h"

#include "app/application.h"
#include "dbmaint/compaction_run.h"
#include "ports/error.h"
#include "ports/printable_name.h"
#include "registry/security_switch.h"
#include "settings/modul_ini.h"
#include "update/copy_check.h"
#include "update/shell_copy.h"
#include "update/workstation_update.h"

namespace tarnu::app {

namespace {

// Message boxes written out: information to one stream, everything else to the other. Remembers
// whether anything critical was said, which makes the run a failure.
class WrittenBoxes : public ui::MessageBoxes {
  public:
    WrittenBoxes(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void Show(const std::string& text, int style, const std::string&) override {
        if (style == ui::vbInformation) {
            out_ << text << '\n';
        } else {
            failed_ = true;
            err_ << text << '\n';
        }
    }
    bool Failed() const { return failed_; }

  private:
    std::ostream& out_;
    std::ostream& err_;
    bool failed_ = false;
};

int Compact(UnattendedPorts& p) {
    WrittenBoxes boxes(p.out, p.err);
    dbmaint::EngineHolder engine(p.makeEngine);
    dbmaint::CompactionRun run(
        engine, p.files, boxes, [&] { return p.app.Path; },
        [&](const std::string& name, std::int64_t before, std::int64_t after) {
            p.out << PrintableName(name) << ": " << before << " -> " << after << '\n';
        });
    run();
    return boxes.Failed() ? ExitFailure : ExitSuccess;
}

int DisableSecurityWarning(UnattendedPorts& p) {
    int result = ExitSuccess;
    for (const RegistryWrite& write : SwitchOffAccessSecurityWarning(p.registry)) {
        // The click ignores these; a script needs to know that the machine's part is missing.
        if (write.status != reg::ErrorSuccess) {
            p.err << "SetRegValue " << write.value << ": Status " << write.status << '\n';
            result = ExitFailure;
        }
    }
    return result;
}

int Update(UnattendedPorts& p) {
    Modul_ini settings(p.profile, [&] { return p.app; });
    std::string target;
    std::string source;
    try {
        target = update::TrimSpaces(settings.ReadIniValue(
            update::SettingsSection, update::TargetKey, DefaultTargetFolder(), ""));
        source = update::TrimSpaces(
            settings.ReadIniValue(update::SettingsSection, update::SourceKey, "", ""));
    } catch (const Error& e) {
        // A settings file that root may not believe: its message says what to do, as is.
        p.err << e.description() << '\n';
        return ExitFailure;
    }
    if (const auto problem = update::CheckBeforeCopy(p.survey, source, target)) {
        p.err << *problem << '\n';
        return ExitFailure;
    }
    if (!update::ShellCopy(p.shell, source, target)) {
        return ExitFailure;
    }
    p.out << update::CopySuccessText << '\n';
    return ExitSuccess;
}

}  // namespace

std::string VersionText() {
    return std::string(ApplicationTitle) + " " + TARNU_VERSION;
}

int RunUnattended(Action action, UnattendedPorts ports) {
    try {
        // The clean-up works on the databases of the current directory, which a scheduler
        // does not set: the program folder is where they are.
        ports.files.ChDir(ports.app.Path);
        switch (action) {
            case Action::Compact:
                return Compact(ports);
            case Action::DisableSecurityWarning:
                return DisableSecurityWarning(ports);
            case Action::Update:
                return Update(ports);
            default:
                break;
        }
        ports.err << "Keine Aktion für einen Lauf ohne Fenster.\n";
    } catch (...) {
        ports.err << UncaughtErrorText(CurrentError()) << '\n';
    }
    return ExitFailure;
}

}  // namespace tarnu::app
