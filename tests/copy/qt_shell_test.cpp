#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <new>
#include <thread>

#include "platform/linux/qt/qt_shell.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

using namespace std::chrono_literals;
namespace status = posix::copy_status;

QProgressDialog* VisibleProgress() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QProgressDialog*>(w); dialog && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

SHFILEOPSTRUCTA CopyRequest(const std::string& from, const std::string& to) {
    SHFILEOPSTRUCTA request;
    request.wFunc = FO_COPY;
    request.pFrom = from + '\0' + '\0';
    request.pTo = to + '\0' + '\0';
    return request;
}

// A copy that has written every byte and then runs, as while its files take their names and
// reach the disk, until it is cancelled (at most a few seconds).
int SlowCopy(SHFILEOPSTRUCTA& request, posix::CopyObserver& observer) {
    observer.Progress({"/quelle/Programm.mde", 4 << 20, 4 << 20, 1, 1});
    for (int i = 0; i < 2000 && !observer.CancelRequested(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    request.fAnyOperationsAborted = observer.CancelRequested();
    return request.fAnyOperationsAborted ? status::kCancelled : 0;
}

TEST(QtShell, ProgressDialogIsTheOneLiveControlAndCancelsTheCopy) {
    RecordingMessageBoxes boxes;
    qt::QtShell shell(boxes, SlowCopy, 300ms);
    QPushButton other("Dateien kopieren");
    other.show();
    int clicks = 0;
    QObject::connect(&other, &QPushButton::clicked, [&] { ++clicks; });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QTest::mouseClick(&other, Qt::LeftButton);  // before the dialog too: no input
        if (QProgressDialog* dialog = VisibleProgress()) {
            poll.stop();
            EXPECT_EQ(dialog->value(), dialog->maximum()) << "a full bar stays full";
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        }
    });
    poll.start(20);

    SHFILEOPSTRUCTA request = CopyRequest("/quelle/*", "/ziel/");
    EXPECT_EQ(shell.SHFileOperationA(request), status::kCancelled);
    EXPECT_TRUE(request.fAnyOperationsAborted);
    EXPECT_EQ(clicks, 0) << "other windows take no input while the copy runs";
    QTest::mouseClick(&other, Qt::LeftButton);
    EXPECT_EQ(clicks, 1) << "input comes back after the copy";
}

TEST(QtShell, RealCopyReportsFailuresInItsOwnBox) {
    TempDir dir;
    RecordingMessageBoxes boxes;
    qt::QtShell shell(boxes);

    SHFILEOPSTRUCTA request = CopyRequest(dir.file("fehlt.txt"), dir.file("T/"));
    EXPECT_EQ(shell.SHFileOperationA(request), status::kNoSource);
    EXPECT_FALSE(request.fAnyOperationsAborted);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
    EXPECT_EQ(boxes.boxes[0].title, qt::kCopyErrorTitle);
    EXPECT_NE(boxes.boxes[0].text.find("fehlt.txt"), std::string::npos) << boxes.boxes[0].text;

    // A copy that could not even start (out of memory, say) says so rather than a bare status.
    qt::QtShell broken(
        boxes, [](SHFILEOPSTRUCTA&, posix::CopyObserver&) -> int { throw std::bad_alloc(); });
    EXPECT_EQ(broken.SHFileOperationA(request), status::kDestination);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[1].text.find("konnte nicht ausgeführt werden"), std::string::npos)
        << boxes.boxes[1].text;
}

}  // namespace
}  // namespace tarnu::test
