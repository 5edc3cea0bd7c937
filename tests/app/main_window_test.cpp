#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/application.h"
#include "app/main_form.h"
#include "platform/linux/qt/qt_ui.h"
#include "platform/linux/qt/qt_window.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"

namespace tarnu::test {
namespace {

class MainWindow : public ::testing::Test {
  protected:
    MainWindow()
        : ui(app::MakeAppObject("/opt/tarnu/tarnu-system-tool", '/')),
          app(ui, boxes),
          form(app, app::MainFormActions{[this] { Compact(); }, [this] { ++updates; },
                                         [this] { ++switches; }}) {
        form.Show();
        window = VisibleWindow("Form1");
    }
    ~MainWindow() override {
        form.Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <typename T = QWidget>
    T* Control(const char* name) {
        return window->findChild<T*>(QLatin1String(name));
    }

    void Compact() {
        ++compactions;
        busyDuringCompaction = window->cursor().shape() == Qt::WaitCursor;
        if (compactionError) {
            throw *compactionError;
        }
    }

    RecordingQtUi ui;
    RecordingMessageBoxes boxes;
    app::Application app;
    app::MainForm form;
    QWidget* window = nullptr;
    int compactions = 0;
    int updates = 0;
    int switches = 0;
    bool busyDuringCompaction = false;
    std::optional<Error> compactionError;
};

TEST_F(MainWindow, IsFixedWhiteLaidOutAsDescribedAndGerman) {
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the user must not resize it";
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_FALSE(window->windowIcon().isNull());

    // Twips as the description gives them, in pixels.
    EXPECT_EQ(Control("Command1")->geometry(), QRect(8, 88, 185, 33));
    EXPECT_EQ(Control<QLabel>("Picture1")->pixmap().size(), QSize(159, 57))
        << "the banner must be loaded";

    // The folder browser and the buttons of Qt's dialogs, whatever the desktop's language.
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().toStdString(), "Abbrechen");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Open)->text().toStdString(), "Öffnen");
    // The tab order follows the tab indices, and its cycle closes.
    EXPECT_EQ(TabOrder(Control("Command1"), 5),
              (std::vector<std::string>{"Command1", "pb_Workstationupdate", "Picture1", "Sich_aus",
                                        "Command1"}));
}

TEST_F(MainWindow, SpaceBarRightAfterStartCompactsUnderAWaitCursorAndEachButtonDoesItsOwn) {
    QWidget* focused = window->focusWidget();
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(focused->objectName(), "Command1");
    QTest::keyClick(focused, Qt::Key_Space);
    EXPECT_TRUE(busyDuringCompaction);
    EXPECT_NE(window->cursor().shape(), Qt::WaitCursor) << "the wait cursor must go again";
    QTest::mouseClick(Control("pb_Workstationupdate"), Qt::LeftButton);
    QTest::mouseClick(Control("Sich_aus"), Qt::LeftButton);
    QTest::mouseClick(Control("Sich_aus"), Qt::LeftButton);
    EXPECT_EQ(std::make_tuple(compactions, updates, switches), std::make_tuple(1, 1, 2));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, CaptionsAreWhollyReadable) {
    for (const char* name : {"Command1", "pb_Workstationupdate", "Sich_aus"}) {
        auto* b = Control<qt::WrapButton>(name);
        ASSERT_NE(b, nullptr) << name;
        const QFont f = b->CaptionFont();
        const QFontMetrics fm(f);
        const QRect room = b->CaptionRect();
        const QRect need = fm.boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, b->text());
        EXPECT_TRUE(room.contains(need)) << name;
        EXPECT_GE(QFontInfo(f).pixelSize(), 9) << name << ": too small to read";
        // Wrapping may only happen between words.
        for (const QString& word : b->text().split(' ')) {
            EXPECT_LE(fm.horizontalAdvance(word), room.width()) << name;
        }
    }
}

TEST_F(MainWindow, ClosingTheOnlyWindowEndsTheEventLoopWithSuccess) {
    QTimer::singleShot(0, [this] { window->close(); });
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(ui.quits, std::vector<int>{0});
    EXPECT_FALSE(form.IsLoaded());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, ErrorEscapingAClickIsShownAndEndsTheProgramWithAFailure) {
    compactionError = Error(3024, "Die Datei 'KDL.mdb' wurde nicht gefunden.");
    QTimer::singleShot(0, [this] { QTest::mouseClick(Control("Command1"), Qt::LeftButton); });
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(boxes.boxes,
              (Shown{{"Laufzeitfehler '3024':\n\nDie Datei 'KDL.mdb' wurde nicht gefunden.",
                      ui::vbCritical, "TARNU-System-Tool"}}));
    EXPECT_EQ(ui.quits, std::vector<int>{1});
    // Once ended, the program does nothing more.
    QTest::mouseClick(Control("Sich_aus"), Qt::LeftButton);
    EXPECT_EQ(switches, 0);
}

// Tool windows stay out of the taskbar: a window asked to be in it is a dialog window, unless
// it asks for a tool window's frame.
TEST(QtWindow, OnlyAToolWindowOrOneOutOfTheTaskbarIsAToolWindow) {
    struct : ui::WindowEvents {
        void Click(const std::string&) override {}
        void CloseRequested() override {}
    } events;
    using F = ui::FrameStyle;
    for (const auto& [inTaskbar, frame, type] :
         std::vector<std::tuple<bool, F, Qt::WindowType>>{{true, F::FixedDialog, Qt::Dialog},
                                                          {true, F::FixedToolWindow, Qt::Tool},
                                                          {false, F::FixedDialog, Qt::Tool}}) {
        ui::WindowDescription desc;
        desc.showInTaskbar = inTaskbar;
        desc.frame = frame;
        const qt::FormWidget window(desc, events);
        EXPECT_EQ(window.windowFlags() & Qt::WindowType_Mask, type) << inTaskbar;
    }
}

TEST(QtMessageBox, StyleChoosesTheIconAndThereIsOnlyOk) {
    for (const auto& [style, icon] : std::vector<std::pair<int, QMessageBox::Icon>>{
             {ui::vbOKOnly, QMessageBox::NoIcon},
             {ui::vbCritical, QMessageBox::Critical},
             {ui::vbInformation, QMessageBox::Information}}) {
        auto box = qt::BuildMessageBox("Zeile 1\nÄnderung", style, "Tarnu");
        EXPECT_EQ(box->icon(), icon) << style;
        EXPECT_EQ(box->text(), QString::fromUtf8("Zeile 1\nÄnderung"));
        EXPECT_EQ(box->windowTitle(), "Tarnu");
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_EQ(box->textFormat(), Qt::PlainText) << "texts are never markup";
    }
}

}  // namespace
}  // namespace tarnu::test
