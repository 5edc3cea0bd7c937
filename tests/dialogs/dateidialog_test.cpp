#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "dialogs/c_dateidialog.h"
#include "ports/error.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/scripted_dialogs.h"

using namespace std::string_literals;
using namespace tarnu::commdlg;
using tarnu::dialogs::C_Dateidialog;
using tarnu::test::Shown;
namespace ui = tarnu::ui;

namespace {

class DateidialogTest : public testing::Test {
  protected:
    C_Dateidialog Make() {
        return C_Dateidialog(boxes, port, [this] { return currentDir; });
    }
    // The name an open dialog answered with `answer` hands out.
    std::string Open(C_Dateidialog& d, const std::string& answer) {
        port.answer = answer;
        return d.ShowOpen();
    }

    std::string currentDir = "/home/anna";
    tarnu::test::RecordingMessageBoxes boxes;
    tarnu::test::ScriptedDialogs port;
};

// What an open or save request carries: the defaults of a fresh object, or what was set.
TEST_F(DateidialogTest, RequestsCarryTheDefaultsOrWhatWasSet) {
    const std::string open = "Datei öffnen\0"s;
    const std::string anna = "/home/anna\0"s;
    struct Row {
        std::function<void(C_Dateidialog&)> set;
        bool save;
        std::uint32_t flags;
        std::string title, dir, file;
    };
    for (const Row& r : std::vector<Row>{
             // The directory at creation counts, not the one at the dialog.
             {[&](C_Dateidialog&) { currentDir = "/elsewhere"; }, false, 0x1804, open, anna,
              std::string(512, '\0')},
             {[](C_Dateidialog& d) { d.MultiSelect(true); }, false, 0x81A04, open, anna,
              std::string(2000, '\0')},
             {[](C_Dateidialog& d) {
                  d.Flags(0x2);
                  d.MultiSelect(true);
              },
              true, 0x80202, "Datei speichern unter\0"s, anna, std::string(2000, '\0')},
             // Flags and caption, once chosen by a dialog, stay with the object.
             {[](C_Dateidialog& d) { d.ShowOpen(); }, true, 0x1804, open, anna,
              std::string(512, '\0')},
             {[](C_Dateidialog& d) {
                  d.MultiSelectOCXCompatible(true);
                  d.MultiSelect(false);
                  d.InitDir("/a");
                  d.DefaultDir("/b");
                  d.DialogTitle("");  // an empty title is no missing title
                  d.DefaultFileName("KDL.mdb");
              },
              true, 0x806, "\0"s, "/b\0"s, "KDL.mdb" + std::string(1993, '\0')},
         }) {
        currentDir = "/home/anna";
        C_Dateidialog d = Make();
        r.set(d);
        r.save ? d.ShowSave() : d.ShowOpen();
        const OPENFILENAMEA& q = r.save ? port.saved.back() : port.opened.back();
        EXPECT_EQ(std::tie(q.Flags, q.lpstrTitle, q.lpstrInitialDir, q.lpstrFile),
                  std::tie(r.flags, r.title, r.dir, r.file))
            << port.opened.size() + port.saved.size();
        EXPECT_EQ(q.nMaxFile, r.file.size());
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DateidialogTest, CreationReportsAFailingCurrentDirectoryAndGoesOn) {
    C_Dateidialog d(boxes, port, []() -> std::string { throw tarnu::Error(76); });
    EXPECT_EQ(boxes.boxes, (Shown{{"Pfad nicht gefunden", ui::vbOKOnly, "Exit_Class_Initialize"}}));
    d.ShowOpen();
    EXPECT_EQ(port.opened.at(0).lpstrInitialDir, "");
}

// The list joins the given filter and the numbered entries that have both text and suffix.
TEST_F(DateidialogTest, FilterListJoinsFilterAndCompleteNumberedEntries) {
    C_Dateidialog d = Make();
    const auto list = [&] {
        d.ShowOpen();
        d.ShowSave();
        EXPECT_EQ(port.saved.back().lpstrFilter, port.opened.back().lpstrFilter);
        return port.opened.back().lpstrFilter;
    };
    EXPECT_EQ(list(), "Alle Dateien\0*.*\0\0"s);
    d.Filter1Text("Texte");
    d.Filter3Suffix("*.mdb");
    EXPECT_EQ(list(), "Alle Dateien\0*.*\0\0"s);
    d.Filter2Text("DB");
    d.Filter2Suffix("*.mdb;*.mde");
    d.Filter5Text("I");
    d.Filter5Suffix("*.ini");
    const std::string entries = "DB\0*.mdb;*.mde\0I\0*.ini\0"s;
    EXPECT_EQ(list(), entries + "\0\0"s);
    d.Filter("\0"s);  // nothing but NULs is no filter
    EXPECT_EQ(list(), entries + "\0\0"s);
    d.Filter("A\0*.a\0\0\0"s);
    EXPECT_EQ(list(), "A\0*.a\0"s + entries + "\0\0"s);
    d.Filter("T\0*.txt"s);
    EXPECT_EQ(list(), "T\0*.txt\0"s + entries + "\0\0"s);
}

TEST_F(DateidialogTest, MultipleSelectionHandsOutEveryNameOnce) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    EXPECT_EQ(Open(d, "/srv/tarnu\0KDL.mdb\0kdlcode.mde\0system.srv\0\0"s), "/srv/tarnu/KDL.mdb");
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/tarnu/kdlcode.mde");
    EXPECT_EQ(d.GetNextFile(), "/srv/tarnu/system.srv");
    EXPECT_EQ(d.GetNextFile(), "");
    EXPECT_EQ(d.GetNextFile(), "");
    EXPECT_EQ(Open(d, "/\0a\0b\0\0"s), "/a") << "in the root the separator is not doubled";
    EXPECT_EQ(d.GetNextFile(), "/b");
    Open(d, "/srv/x\0c\0d\0\0"s);  // a new selection drops the rest of the old one
    EXPECT_EQ(Open(d, "/srv/one.txt\0\0"s), "/srv/one.txt");
    EXPECT_EQ(d.FileCount(), 1);
    EXPECT_EQ(d.GetNextFile(), "");

    // Selections that are not split leave nothing for GetNextFile.
    Open(d, "/srv\0a\0b\0c\0\0"s);
    d.MultiSelect(false);
    EXPECT_EQ(Open(d, "/srv/single\0"s), "/srv/single");
    EXPECT_EQ(d.GetNextFile(), "");
    d.MultiSelectOCXCompatible(true);
    EXPECT_EQ(Open(d, "/srv\0a\0b\0c\0\0"s), "/srv\0a\0b\0c"s);
    EXPECT_EQ(d.FileCount(), 1);  // as the single selection left it
    EXPECT_EQ(d.GetNextFile(), "");
}

TEST_F(DateidialogTest, CancelEmptiesTheResultAndSaveLeavesTheSelection) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    Open(d, "/srv\0a\0b\0c\0\0"s);
    port.cancel = true;
    EXPECT_EQ(d.ShowSave(), "");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/b");
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.FileCount(), 0);
    EXPECT_EQ(d.GetNextFile(), "");

    // The folder browser, as the update window uses it: the object's caption and owner, a
    // cancel, then a choice.
    C_Dateidialog folder = Make();
    folder.hwnd(0x5A0001);
    EXPECT_EQ(folder.ShowFolder(), "");
    EXPECT_EQ(port.pathBuffer, std::string(512, ' '));
    EXPECT_EQ(std::tie(port.browsed.at(0).lpszTitle, port.browsed.at(0).hwndOwner),
              std::make_tuple("", 0x5A0001));
    folder.ShowOpen();
    port.cancel = false;
    port.folder = ITEMIDLIST{"/srv/tarnu"};
    EXPECT_EQ(folder.ShowFolder(), "/srv/tarnu");
    EXPECT_EQ(folder.FileName(), "/srv/tarnu");
    EXPECT_EQ(port.browsed.at(1).lpszTitle, "Datei öffnen\0"s);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DateidialogTest, PresetNameMustFitTheBufferInBytes) {
    C_Dateidialog d = Make();
    d.DefaultFileName(std::string(512, 'n'));
    Open(d, "/srv/KDL.mdb\0"s);
    EXPECT_EQ(port.opened.at(0).lpstrFile, std::string(512, 'n'));
    std::string umlauts;
    for (int i = 0; i < 257; ++i) {
        umlauts += "ä";  // 257 characters, 514 bytes
    }
    d.DefaultFileName(umlauts);
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.ShowSave(), "");
    EXPECT_EQ(port.opened.size() + port.saved.size(), 1u);
    EXPECT_EQ(d.FileName(), "/srv/KDL.mdb");
    const std::string invalid = tarnu::standardErrorDescription(5);
    EXPECT_EQ(boxes.boxes, (Shown{{invalid, ui::vbOKOnly, "Exit_ShowOpen"},
                                  {invalid, ui::vbOKOnly, "Exit_ShowSave"}}));
}

TEST_F(DateidialogTest, FailuresAreShownAndAbsorbed) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    Open(d, "/srv\0a\0b\0\0"s);
    // More than the buffer, and no NUL in it.
    EXPECT_EQ(Open(d, std::string(2500, 'x')), "");
    EXPECT_EQ(d.FileCount(), 0);
    EXPECT_EQ(d.GetNextFile(), "");
    port.failWith = tarnu::err::PermissionDenied;
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.ShowFolder(), "");
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].title, "Exit_ParseAuswahl");
    EXPECT_EQ(Shown(boxes.boxes.begin() + 1, boxes.boxes.end()),
              (Shown{{"Zugriff verweigert", ui::vbOKOnly, "Exit_ShowOpen"},
                     {"70: Zugriff verweigert", ui::vbOKOnly, "ShowFolder"}}));
}

}  // namespace
