#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTimer>
#include <optional>
#include <vector>

#include "app/application.h"
#include "app/form.h"
#include "app/main_form.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"

namespace tarnu::test {
namespace {

// A second window standing in for the workstation update window.
class StandIn : public app::Form {
  public:
    explicit StandIn(app::Application& app) : Form(app, Describe()) {}
    static ui::WindowDescription Describe() {
        ui::WindowDescription w;
        w.name = "StandIn";
        w.caption = "Workstationupdate";
        w.clientWidth = 6255;
        w.clientHeight = 1455;
        w.frame = ui::FrameStyle::FixedToolWindow;
        w.showInTaskbar = false;
        w.controls = {{"Quelle", ui::ControlKind::TextBox, "", 1440, 120, 4335, 255, 0, ""}};
        return w;
    }
    int loads = 0;
    int unloads = 0;
    std::optional<Error> unloadError;

  protected:
    void OnLoad() override {
        ++loads;
        SetText("Quelle", "geladen " + std::to_string(loads));
    }
    void OnUnload() override {
        ++unloads;
        if (unloadError) {
            throw *unloadError;
        }
    }
};

class WindowLifetime : public ::testing::Test {
  protected:
    WindowLifetime()
        : ui(app::MakeAppObject("/opt/tarnu/tarnu-system-tool", '/')),
          app(ui, boxes),
          update(app),
          form1(app, app::MainFormActions{{}, [this] { update.Show(); }, {}}) {
        form1.Show();
    }
    ~WindowLifetime() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    RecordingQtUi ui;
    RecordingMessageBoxes boxes;
    app::Application app;
    StandIn update;
    app::MainForm form1;
};

TEST_F(WindowLifetime, TheUpdateWindowIsOneSharedInstance) {
    auto* button = VisibleWindow("Form1")->findChild<QAbstractButton*>("pb_Workstationupdate");
    button->click();
    update.SetText("Quelle", "ungespeichert");
    button->click();
    EXPECT_EQ(CountVisibleWindows("StandIn"), 1);
    EXPECT_EQ(update.loads, 1) << "showing an open window must not load it again";
    EXPECT_EQ(update.Text("Quelle"), "ungespeichert");

    VisibleWindow("StandIn")->close();
    EXPECT_FALSE(update.IsLoaded());
    EXPECT_EQ(update.unloads, 1);
    button->click();
    EXPECT_EQ(update.loads, 2) << "a closed window is loaded anew";
    EXPECT_EQ(update.Text("Quelle"), "geladen 2");
    EXPECT_TRUE(ui.quits.empty());
}

TEST_F(WindowLifetime, ProgramEndsWithItsLastWindow) {
    update.Show();
    VisibleWindow("Form1")->close();
    EXPECT_FALSE(form1.IsLoaded());
    EXPECT_TRUE(ui.quits.empty()) << "the update window still runs the program";
    EXPECT_NE(VisibleWindow("StandIn"), nullptr);

    VisibleWindow("StandIn")->close();
    EXPECT_EQ(update.unloads, 1) << "the update window's closing step runs at the end";
    EXPECT_EQ(ui.quits, std::vector<int>{0});
}

TEST_F(WindowLifetime, ClosingTheOnlyWindowEndsAtOnceWithoutUnloadingOthers) {
    VisibleWindow("Form1")->close();
    EXPECT_EQ(ui.quits, std::vector<int>{0});
    EXPECT_EQ(update.unloads, 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(WindowLifetime, AnErrorInAnUnloadStepEndsTheProgramWithTheStandardMessage) {
    update.Show();
    update.unloadError = Error(err::InvalidProcedureCall);
    VisibleWindow("StandIn")->close();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Laufzeitfehler '5':\n\nUngültiger Prozeduraufruf oder ungültiges Argument");
    EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
    EXPECT_EQ(ui.quits, std::vector<int>{1});
}

TEST_F(WindowLifetime, TheEventLoopReturnsTheExitCodeWhenTheLastWindowCloses) {
    QTimer::singleShot(0, [] { VisibleWindow("Form1")->close(); });
    EXPECT_EQ(app.Run(), 0);

    // A fresh run that ends by an uncaught error returns a failure code.
    RecordingQtUi ui2(app::MakeAppObject("/opt/tarnu/tarnu-system-tool", '/'));
    app::Application app2(ui2, boxes);
    app::MainForm failing(app2,
                          app::MainFormActions{{}, {}, [] { throw Error(err::PermissionDenied); }});
    failing.Show();
    QTimer::singleShot(
        0, [] { VisibleWindow("Form1")->findChild<QAbstractButton*>("Sich_aus")->click(); });
    EXPECT_EQ(app2.Run(), 1);
    EXPECT_EQ(boxes.boxes.back().text, "Laufzeitfehler '70':\n\nZugriff verweigert");
}

}  // namespace
}  // namespace tarnu::test
