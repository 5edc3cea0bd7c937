#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTimer>
#include <vector>

#include "app/application.h"
#include "app/main_form.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"

namespace tarnu::test {
namespace {

// The runtime's side of window lifetime, with the main window alone; the update window's own
// lifetime is tested with it.
class WindowLifetime : public ::testing::Test {
  protected:
    WindowLifetime()
        : ui(app::MakeAppObject("/opt/tarnu/tarnu-system-tool", '/')),
          app(ui, boxes),
          form1(app, app::MainFormActions{}) {
        form1.Show();
    }
    ~WindowLifetime() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    RecordingQtUi ui;
    RecordingMessageBoxes boxes;
    app::Application app;
    app::MainForm form1;
};

TEST_F(WindowLifetime, ClosingTheOnlyWindowEndsAtOnce) {
    VisibleWindow("Form1")->close();
    EXPECT_EQ(ui.quits, std::vector<int>{0});
    EXPECT_FALSE(form1.IsLoaded());
    EXPECT_TRUE(boxes.boxes.empty());
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
