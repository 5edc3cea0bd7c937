#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/application.h"
#include "app/main_form.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/copy_service.h"
#include "platform/linux/posix/ini_profile.h"
#include "settings/modul_ini.h"
#include "tests/support/child_process.h"
#include "tests/support/holding_child.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "update/workstation_update.h"

namespace tarnu::test {
namespace {

using namespace std::string_literals;

// Keeps the requests and answers as told; the real copy is tested on its own.
class FakeShell : public ShellApi {
  public:
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override {
        requests.push_back(request);
        if (fail) {
            throw Error(err::InternalError);
        }
        request.fAnyOperationsAborted = aborted;
        return status;
    }
    std::vector<SHFILEOPSTRUCTA> requests;
    int status = 0;
    bool aborted = false;
    bool fail = false;
};

// The Linux survey, with a drive that has only a megabyte left where a test asks for it.
class Survey : public CopySurveyApi {
  public:
    CopySurvey SurveyCopy(const std::string& source, const std::string& target) override {
        CopySurvey survey = posix::CopyService().Survey(source, target);
        survey.freeBytes = full ? 1 << 20 : survey.freeBytes;
        return survey;
    }
    bool full = false;
};

// The update window and the main window that opens it, on a real settings file and real
// widgets; only the folder dialog and the shell are scripted.
class UpdateWindow : public ::testing::Test {
  protected:
    UpdateWindow() { form1.Show(); }
    ~UpdateWindow() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string IniFile() const { return dir.file("tarnu-system-tool.ini"); }
    void Open() {
        VisibleWindow("Form1")->findChild<QAbstractButton*>("pb_Workstationupdate")->click();
    }
    QWidget* Window() { return VisibleWindow("Workstationupdate"); }
    template <typename T = QWidget>
    T* Control(const char* name) {
        QWidget* w = Window();
        return w ? w->findChild<T*>(QLatin1String(name)) : nullptr;
    }
    void Click(const char* button) { Control<QAbstractButton>(button)->click(); }
    std::string Box(const char* name) { return Control<QLineEdit>(name)->text().toStdString(); }
    void Type(const char* name, const std::string& text) {
        Control<QLineEdit>(name)->setText(QString::fromStdString(text));
    }

    TempDir dir;
    RecordingQtUi ui{ui::AppObject{dir.path(), "tarnu-system-tool", "TARNU-System-Tool"}};
    RecordingMessageBoxes boxes;
    app::Application app{ui, boxes};
    posix::IniProfile profile;
    Modul_ini settings{profile, [this] { return ui.App(); }};
    ScriptedDialogs dialogs;
    FakeShell shell;
    Survey survey;
    update::Workstationupdate update{
        app, {settings, dialogs, [] { return "/"s; }, shell, survey, "/opt/tarnu"}};
    app::MainForm form1{app, app::MainFormActions{{}, [this] { update.Show(); }, {}}};
};

TEST_F(UpdateWindow, IsASmallFixedToolWindowWithItsTabOrder) {
    Open();
    QWidget* w = Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->size(), QSize(417, 97));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    const auto flags = w->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    // Labels take no focus; the others follow their tab indices, starting in the source box.
    EXPECT_EQ(w->focusWidget(), Control("Quelle"));
    EXPECT_EQ(TabOrder(Control("Quelle"), 7),
              (std::vector<std::string>{"Quelle", "Ziel", "pb_quelle", "pb_Ziel", "kopieren",
                                        "ende", "Quelle"}));
}

TEST_F(UpdateWindow, LoadsTheFoldersFromTheSettingsFileOrTheirDefaults) {
    struct Case {
        std::optional<std::string> file;  // none: no settings file
        const char* quelle;
        const char* ziel;
    };
    for (const Case& c : std::vector<Case>{
             {std::nullopt, "", "/opt/tarnu"},
             {"[Andere]\nZiel=/srv/x\n", "", "/opt/tarnu"},
             {"[Pfade]\nQuelle=/srv/quelle\nZiel=/srv/ziel/\n", "/srv/quelle", "/srv/ziel/"},
             // A key with an empty value is a value: the default is only for a missing key.
             {"[Pfade]\nZiel=\n", "", ""},
         }) {
        ::unlink(IniFile().c_str());
        if (c.file) {
            WriteFile(IniFile(), *c.file);
        }
        Open();
        EXPECT_EQ(Box("Quelle"), c.quelle) << c.file.value_or("no file");
        EXPECT_EQ(Box("Ziel"), c.ziel) << c.file.value_or("no file");
        Click("ende");
        EXPECT_EQ(Window(), nullptr);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(UpdateWindow, AnOpenWindowKeepsItsBoxesAndClosingSavesThemExactlyAsTheyStand) {
    Open();
    Type("Quelle", "  /srv/mit Leerzeichen  ");
    Type("Ziel", "");
    WriteFile(IniFile(), "[Pfade]\nQuelle=/srv/anders\n");
    Open();  // a second click only brings the window to the front: it must not load again
    EXPECT_EQ(CountVisibleWindows("Workstationupdate"), 1);
    EXPECT_EQ(Box("Quelle"), "  /srv/mit Leerzeichen  ");
    ::unlink(IniFile().c_str());
    Window()->close();  // the close box
    EXPECT_FALSE(update.IsLoaded());
    const std::string saved = ReadFile(IniFile());
    EXPECT_NE(saved.find("Quelle=  /srv/mit Leerzeichen  \r\nZiel=\r\n"), std::string::npos)
        << "the source first, both exactly as they stand: " << saved;

    Open();
    EXPECT_EQ(Box("Ziel"), "") << "an empty target saved at the close must come back empty";
}

TEST_F(UpdateWindow, TheProgramRunsOnWithTheUpdateWindowAfterTheMainWindowCloses) {
    Open();
    Type("Ziel", "/srv/ziel/");
    VisibleWindow("Form1")->close();
    EXPECT_TRUE(ui.quits.empty());
    ASSERT_NE(Window(), nullptr);

    Window()->close();
    EXPECT_EQ(ui.quits, std::vector<int>{0});
    EXPECT_NE(ReadFile(IniFile()).find("Ziel=/srv/ziel/"), std::string::npos)
        << "the closing steps run also as the last window goes";
}

TEST_F(UpdateWindow, ASettingsFileThatCannotBeWrittenEndsTheProgramAtTheClose) {
    Open();
    ASSERT_EQ(::mkdir(IniFile().c_str(), 0755), 0);  // not a file, so no write can succeed
    Click("ende");
    EXPECT_EQ(boxes.boxes,
              (Shown{{"Laufzeitfehler '5':\n\nUngültiger Prozeduraufruf oder ungültiges Argument",
                      ui::vbCritical, "TARNU-System-Tool"}}));
    EXPECT_EQ(ui.quits, std::vector<int>{1});
}

// A settings file that another user could have written must not choose what an administrator
// copies: a root run's window says so once, starts from the defaults and leaves the file alone.
TEST_F(UpdateWindow, ARootRunShowsAnUntrustedSettingsFileOnceAndLeavesItAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    WriteFile(IniFile(), "[Pfade]\nQuelle=/home/fremd\nZiel=/etc\n");
    ASSERT_EQ(::chown(IniFile().c_str(), 65534, 65534), 0);
    Open();
    EXPECT_EQ(Box("Quelle"), "");
    EXPECT_EQ(Box("Ziel"), "/opt/tarnu");
    Type("Ziel", "/srv/neu/");
    Click("ende");
    EXPECT_EQ(
        boxes.boxes,
        (Shown{{posix::UntrustedSettingsText(IniFile()), ui::vbCritical, "TARNU-System-Tool"}}));
    EXPECT_EQ(ReadFile(IniFile()), "[Pfade]\nQuelle=/home/fremd\nZiel=/etc\n");
    EXPECT_EQ(StatOf(IniFile()).st_uid, 65534u);
    EXPECT_TRUE(ui.quits.empty());
}

TEST_F(UpdateWindow, PickersPutTheChosenFolderInTheBoxAndKeepItOnCancel) {
    struct Case {
        const char* button;
        std::optional<std::string> chosen;  // none: the dialog is cancelled
        const char* box;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{
             {"pb_quelle", "/srv/neu", "Quelle", "/srv/neu"},
             {"pb_Ziel", "/srv/neu", "Ziel", "/srv/neu/"},
             {"pb_Ziel", "/", "Ziel", "/"},
             {"pb_Ziel", "/srv/schon/", "Ziel", "/srv/schon/"},
             {"pb_quelle", std::nullopt, "Quelle", "/srv/vorher"},
             {"pb_Ziel", std::nullopt, "Ziel", "/srv/vorher"},
         }) {
        WriteFile(IniFile(), "[Pfade]\nQuelle=/srv/vorher\nZiel=/srv/vorher\n");
        Open();
        dialogs.browsed.clear();
        dialogs.folder.reset();
        if (c.chosen) {
            dialogs.folder = commdlg::ITEMIDLIST{*c.chosen};
        }
        Click(c.button);
        EXPECT_EQ(Box(c.box), c.expected) << c.button << " " << c.chosen.value_or("cancel");
        EXPECT_EQ(dialogs.browsed.size(), 1u) << "a fresh dialog for each click";
        Click("ende");
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(UpdateWindow, CopyIsCheckedFirstAndConfirmedOnlyAfterACompleteSuccess) {
    ScopedCurrentDir inDir(dir.path());
    const std::string q = dir.file("q"), z = dir.file("z");
    for (const char* folder : {"q", "\tq", "leer", "z"}) {
        ASSERT_EQ(::mkdir(dir.file(folder).c_str(), 0755), 0);
    }
    WriteFile(dir.file("\tq/a.mde"), "a");
    WriteFile(dir.file("q/a.mde"), std::string(3 << 20, 'a'));
    engine::Engine().CreateDatabase(dir.file("q/KDL.mdb"));
    engine::Engine().CreateDatabase(dir.file("z/KDL.mdb"));
    const std::string success = "Dateien wurden erfolgreich kopiert!";
    const std::string inUse =
        "Die Datei „" + z +
        "/KDL.mdb“ wird gerade benutzt. Bitte Tarnu auf diesem Rechner beenden.";
    const std::string noRoom =
        "Im Zielverzeichnis „" + z +
        "“ ist nicht genug Platz: das Update braucht 3,1 MB, frei sind 1,0 MB.";
    const std::string noFiles = "Im Quellverzeichnis wurden keine Dateien gefunden: „";
    struct Case {
        std::string quelle;
        std::string ziel;
        std::string box;        // what the window says
        std::string from = {};  // what the shell is asked to copy; empty: the shell is not called
        std::string to = {};
        int status = 0;  // the shell's answer
        bool aborted = false;
        bool fail = false;
        bool held = false;  // a Tarnu holds z/KDL.mdb
        bool full = false;  // the drive has too little room
    };
    for (const Case& c : std::vector<Case>{
             {"  " + q + "/*  ", " " + z + "/ ", success, q + "/*", z + "/"},
             {"\tq ", "z", success, "\tq", "z"},
             {"", "", noFiles + "“"},
             {dir.file("leer"), z, noFiles + dir.file("leer") + "“"},
             {q + "/*", z, inUse, "", "", 0, false, false, true},
             {q + "/*", z, noRoom, "", "", 0, false, false, false, true},
             {q, z, "", q, z, 0, true},
             {q, z, "", q, z, 0x4C7, true},
             {q, z, "", q, z, 0x402},
             {q, z, "", q, z, 0, false, true},
         }) {
        SCOPED_TRACE(c.quelle + " " + std::to_string(c.status));
        Open();
        Type("Quelle", c.quelle);
        Type("Ziel", c.ziel);
        shell.requests.clear();
        boxes.boxes.clear();
        shell.status = c.status;
        shell.aborted = c.aborted;
        shell.fail = c.fail;
        survey.full = c.full;
        const auto holder =
            c.held ? std::make_unique<HoldingChild>(dir.file("z/KDL.mdb")) : nullptr;
        Click("kopieren");

        ASSERT_EQ(shell.requests.size(), c.from.empty() ? 0u : 1u);
        if (!c.from.empty()) {
            const SHFILEOPSTRUCTA& r = shell.requests[0];
            EXPECT_EQ(r.wFunc, FO_COPY);
            EXPECT_EQ(r.fFlags, 0x0250);
            EXPECT_EQ(r.pFrom, c.from + '\0' + '\0');
            EXPECT_EQ(r.pTo, c.to + '\0' + '\0');
        }
        const Shown said{
            {c.box, c.box == success ? ui::vbInformation : ui::vbCritical, "TARNU-System-Tool"}};
        EXPECT_EQ(boxes.boxes, c.box.empty() ? Shown{} : said);
        EXPECT_EQ(Box("Quelle"), c.quelle) << "the boxes keep their spaces";
        EXPECT_FALSE(FileExists(IniFile())) << "the copy itself saves nothing";
        Window()->close();
        ::unlink(IniFile().c_str());
    }
}

}  // namespace
}  // namespace tarnu::test
