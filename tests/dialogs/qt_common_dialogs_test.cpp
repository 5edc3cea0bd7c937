#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>

#include "platform/linux/qt/qt_common_dialogs.h"
#include "tests/support/temp_dir.h"

using namespace std::string_literals;
using namespace tarnu::commdlg;

namespace {

// Plays one step on each modal window as it comes to the top, in order. A window still up
// after ten seconds is rejected, so that a test fails instead of hanging.
class ModalScript {
  public:
    using Step = std::function<void(QWidget*)>;
    explicit ModalScript(std::initializer_list<Step> steps) : steps_(steps) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(20);
    }

  private:
    void Poll() {
        QWidget* top = QApplication::activeModalWidget();
        if (++ticks_ > 500 && top != nullptr) {
            static_cast<QDialog*>(top)->reject();
            return;
        }
        if (top == nullptr || top == last_ || steps_.empty()) {
            return;
        }
        last_ = top;
        const Step step = steps_.front();
        steps_.pop_front();
        // Out of the timer's own slot: a step may open a further modal window, and a timer
        // does not fire again while its slot runs.
        QTimer::singleShot(0, top, [step, top] { step(top); });
    }

    std::deque<Step> steps_;
    QTimer timer_;
    QPointer<QWidget> last_;
    int ticks_ = 0;
};

QFileDialog* FileDialogIn(QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    return dialog != nullptr ? dialog : w->findChild<QFileDialog*>();
}

// Types into the name field and confirms, as a user would.
ModalScript::Step Type(const QString& text) {
    return [text](QWidget* w) {
        QFileDialog* dialog = FileDialogIn(w);
        // A name typed before stays selected in the list unless the field has the focus,
        // which offscreen windows never get.
        dialog->findChild<QListView*>("listView")->clearSelection();
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(text);
        static_cast<QDialog*>(dialog)->accept();
    };
}

void Reject(QWidget* w) {
    static_cast<QDialog*>(w)->reject();
}

void RejectMessageBox(QWidget* w) {
    EXPECT_NE(qobject_cast<QMessageBox*>(w), nullptr);
    Reject(w);
}

class QtDialogsTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.txt", "b.txt", "c.ini"}) {
            tarnu::test::WriteFile(dir.file(name), "x");
        }
        std::filesystem::create_directory(dir.file("sub"));
    }
    OPENFILENAMEA Request(std::uint32_t flags, std::uint32_t size = 512) {
        OPENFILENAMEA ofn;
        ofn.lpstrFilter = "Texte\0*.txt\0Alle Dateien\0*.*\0\0"s;
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = std::string(size, '\0');
        ofn.nMaxFile = size;
        ofn.lpstrInitialDir = dir.path() + '\0';
        ofn.Flags = flags;
        return ofn;
    }
    static std::string Padded(const std::string& answer, std::size_t size) {
        return answer + std::string(size - answer.size(), '\0');
    }

    tarnu::test::TempDir dir;
    tarnu::qt::QtCommonDialogs dialogs;
};

TEST_F(QtDialogsTest, OpenHonoursTheRequestAndAnswersTheFullPath) {
    QWidget owner;
    owner.show();
    OPENFILENAMEA ofn = Request(OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    ofn.hwndOwner = static_cast<std::intptr_t>(owner.winId());
    ofn.lpstrTitle = "Quelle wählen\0"s;
    ofn.nFilterIndex = 2;
    ModalScript script{[&](QWidget* w) {
        QFileDialog* d = FileDialogIn(w);
        EXPECT_EQ(d->windowTitle(), QString::fromUtf8("Quelle wählen"));
        EXPECT_EQ(d->parentWidget(), &owner);
        EXPECT_EQ(d->directory().absolutePath(), QString::fromStdString(dir.path()));
        ASSERT_EQ(d->nameFilters().size(), 2);
        EXPECT_EQ(d->selectedNameFilter(), "Alle Dateien");  // shown without its patterns
        d->selectNameFilter(d->nameFilters().at(0));         // the user picks the first entry
        d->findChild<QCheckBox*>()->setChecked(true);        // offered: read-only is not hidden
        Type("c.ini")(w);
    }};
    ASSERT_NE(dialogs.GetOpenFileNameA(ofn), 0);
    EXPECT_EQ(ofn.lpstrFile, Padded(dir.file("c.ini") + '\0', 512));
    EXPECT_EQ(ofn.nFilterIndex, 1u);
    EXPECT_EQ(ofn.Flags, OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_READONLY);
}

// Several names come back as the folder and the names in the user's order, one name as its
// path; an answer longer than the buffer fails and leaves the buffer as it was.
TEST_F(QtDialogsTest, MultipleSelectionAnswersFolderAndNamesIfTheyFit) {
    const std::string one = dir.file("c.ini") + "\0\0"s;
    ModalScript script{[](QWidget* w) {
                           EXPECT_EQ(FileDialogIn(w)->findChild<QCheckBox*>(), nullptr);
                           Type("\"b.txt\" \"a.txt\"")(w);
                       },
                       Type("\"c.ini\""), Type("c.ini")};
    OPENFILENAMEA several = Request(0x81A04, 2000);
    ASSERT_NE(dialogs.GetOpenFileNameA(several), 0);
    EXPECT_EQ(several.lpstrFile, Padded(dir.path() + "\0b.txt\0a.txt\0\0"s, 2000));
    OPENFILENAMEA fits = Request(0x81A04, one.size());
    ASSERT_NE(dialogs.GetOpenFileNameA(fits), 0);
    EXPECT_EQ(fits.lpstrFile, one);
    OPENFILENAMEA tooSmall = Request(0x81A04, one.size() - 1);
    tooSmall.lpstrFile = Padded("a.txt", one.size() - 1);
    EXPECT_EQ(dialogs.GetOpenFileNameA(tooSmall), 0);
    EXPECT_EQ(tooSmall.lpstrFile, Padded("a.txt", one.size() - 1));
}

TEST_F(QtDialogsTest, CancelAnswersZeroAndSaveChecksPathOverwriteAndExtension) {
    OPENFILENAMEA ofn = Request(0x806);
    ofn.lpstrDefExt = "ini\0"s;
    ModalScript script{Reject,        Reject,           Type("fehlt/neu"), RejectMessageBox,
                       Type("a.txt"), RejectMessageBox, Type("neu")};
    // A cancel answers 0 and leaves the buffer.
    EXPECT_EQ(dialogs.GetOpenFileNameA(ofn), 0);
    EXPECT_EQ(dialogs.GetSaveFileNameA(ofn), 0);
    EXPECT_EQ(ofn.lpstrFile, std::string(512, '\0'));
    ASSERT_NE(dialogs.GetSaveFileNameA(ofn), 0);
    EXPECT_EQ(ofn.lpstrFile, Padded(dir.file("neu.ini") + '\0', 512));
}

TEST_F(QtDialogsTest, FolderBrowserAnswersNoneOnCancelAndConfirmsOnlyExistingFolders) {
    BROWSEINFOA bi;
    bi.lpszTitle = "Zielverzeichnis\0"s;
    ModalScript script{Reject,
                       [&](QWidget* w) {
                           auto* label = w->findChild<QLabel*>("browseTitle");
                           EXPECT_TRUE(label != nullptr && label->text() == "Zielverzeichnis");
                           FileDialogIn(w)->setDirectory(QString::fromStdString(dir.path()));
                           Type("fehlt")(w);
                       },
                       RejectMessageBox, Type("sub")};
    const PIDLIST_ABSOLUTE none = dialogs.SHBrowseForFolderA(bi);
    EXPECT_FALSE(none.has_value()) << "cancelled";
    std::string path(512, ' ');
    EXPECT_EQ(dialogs.SHGetPathFromIDListA(none, path), 0);
    const PIDLIST_ABSOLUTE chosen = dialogs.SHBrowseForFolderA(bi);
    const std::string sub = dir.file("sub");
    ASSERT_NE(dialogs.SHGetPathFromIDListA(chosen, path), 0);
    EXPECT_EQ(path, sub + '\0' + std::string(511 - sub.size(), ' '));
    std::string tooSmall(sub.size(), ' ');
    EXPECT_EQ(dialogs.SHGetPathFromIDListA(chosen, tooSmall), 0);
    EXPECT_EQ(tooSmall, std::string(sub.size(), ' '));
}

}  // namespace
