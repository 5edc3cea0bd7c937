#include <gtest/gtest.h>

#include <optional>
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

    // The list an open and then a save dialog get after Filter (unless none) and the numbered
    // entries {N, text, suffix}; both dialogs must get the same.
    std::string FilterList(const std::optional<std::string>& filter,
                           const std::vector<std::tuple<int, std::string, std::string>>& entries) {
        using D = C_Dateidialog;
        using Setter = void (D::*)(const std::string&);
        const std::pair<Setter, Setter> setters[] = {{&D::Filter1Text, &D::Filter1Suffix},
                                                     {&D::Filter2Text, &D::Filter2Suffix},
                                                     {&D::Filter3Text, &D::Filter3Suffix},
                                                     {&D::Filter4Text, &D::Filter4Suffix},
                                                     {&D::Filter5Text, &D::Filter5Suffix}};
        C_Dateidialog d = Make();
        if (filter) {
            d.Filter(*filter);
        }
        for (const auto& [n, text, suffix] : entries) {
            (d.*setters[n - 1].first)(text);
            (d.*setters[n - 1].second)(suffix);
        }
        d.ShowOpen();
        d.ShowSave();
        EXPECT_EQ(port.saved.back().lpstrFilter, port.opened.back().lpstrFilter);
        return port.opened.back().lpstrFilter;
    }

    std::string currentDir = "/home/anna";
    tarnu::test::RecordingMessageBoxes boxes;
    tarnu::test::ScriptedDialogs port;
};

TEST_F(DateidialogTest, FreshObjectAsksWithItsDefaults) {
    C_Dateidialog d = Make();
    currentDir = "/elsewhere";  // the directory at creation counts, not the one at the dialog
    EXPECT_EQ(d.FileName(), std::string(512, '\0'));
    port.answer = "/home/anna/a.txt\0"s;
    EXPECT_EQ(d.ShowOpen(), "/home/anna/a.txt");
    const OPENFILENAMEA& r = port.opened.at(0);
    EXPECT_EQ(r.hwndOwner, 0);
    EXPECT_EQ(r.lpstrFile, std::string(512, '\0'));
    EXPECT_EQ(r.lpstrInitialDir, "/home/anna\0"s);
    EXPECT_EQ(r.lpstrTitle, "Datei öffnen\0"s);
    EXPECT_EQ(r.Flags, 0x1804u);
    EXPECT_EQ(r.lpstrDefExt, "\0"s);
    EXPECT_EQ(d.FileName(), "/home/anna/a.txt");
    EXPECT_EQ(d.FileCount(), 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DateidialogTest, CreationReportsAFailingCurrentDirectoryAndGoesOn) {
    C_Dateidialog d(boxes, port, []() -> std::string { throw tarnu::Error(76); });
    EXPECT_EQ(boxes.boxes, (Shown{{"Pfad nicht gefunden", ui::vbOKOnly, "Exit_Class_Initialize"}}));
    d.ShowOpen();
    EXPECT_EQ(port.opened.at(0).lpstrInitialDir, "");
    EXPECT_EQ(port.opened.at(0).nMaxFile, 512u);
}

TEST_F(DateidialogTest, FilterListJoinsFilterAndCompleteNumberedEntries) {
    const std::string all = "Alle Dateien\0*.*\0\0"s;
    EXPECT_EQ(FilterList(std::nullopt, {}), all);
    EXPECT_EQ(FilterList(std::nullopt, {{1, "Texte", ""}, {3, "", "*.mdb"}}), all);
    EXPECT_EQ(FilterList(std::nullopt, {{2, "DB", "*.mdb;*.mde"}, {4, "T", "*.txt"}}),
              "DB\0*.mdb;*.mde\0T\0*.txt\0\0\0"s);
    EXPECT_EQ(FilterList("A\0*.a\0\0\0"s, {{5, "I", "*.ini"}}), "A\0*.a\0I\0*.ini\0\0\0"s);
    EXPECT_EQ(FilterList("T\0*.txt"s, {}), "T\0*.txt\0\0\0"s);
    EXPECT_EQ(FilterList("\0"s, {{1, "T", "*.txt"}}), "T\0*.txt\0\0\0"s);
}

TEST_F(DateidialogTest, FlagsAndCaptionChosenOnceStayWithTheObject) {
    C_Dateidialog open = Make();
    open.MultiSelect(true);
    open.ShowOpen();
    EXPECT_EQ(port.opened.back().Flags, 0x81A04u);
    C_Dateidialog save = Make();
    save.MultiSelect(true);
    save.ShowSave();
    EXPECT_EQ(port.saved.back().Flags, 0x806u);
    EXPECT_EQ(port.saved.back().lpstrTitle, "Datei speichern unter\0"s);
    C_Dateidialog given = Make();
    given.Flags(0x2);
    given.MultiSelect(true);
    given.ShowSave();
    EXPECT_EQ(port.saved.back().Flags, 0x80202u);

    C_Dateidialog d = Make();
    d.hwnd(0x5A0001);
    d.ShowFolder();
    EXPECT_EQ(port.browsed.at(0).lpszTitle, "");
    EXPECT_EQ(port.browsed.at(0).hwndOwner, 0x5A0001);
    d.ShowOpen();
    d.ShowSave();
    EXPECT_EQ(port.saved.back().lpstrTitle, "Datei öffnen\0"s);
    EXPECT_EQ(port.saved.back().Flags, 0x1804u);
    d.ShowFolder();
    EXPECT_EQ(port.browsed.at(1).lpszTitle, "Datei öffnen\0"s);
}

TEST_F(DateidialogTest, MultipleSelectionHandsOutEveryNameOnce) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv/tarnu\0KDL.mdb\0kdlcode.mde\0system.srv\0\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv/tarnu/KDL.mdb");
    EXPECT_EQ(port.opened.at(0).nMaxFile, 2000u);
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/tarnu/kdlcode.mde");
    EXPECT_EQ(d.GetNextFile(), "/srv/tarnu/system.srv");
    EXPECT_EQ(d.GetNextFile(), "");
    EXPECT_EQ(d.GetNextFile(), "");

    port.answer = "/\0a\0b\0\0"s;  // in the root the separator is not doubled
    EXPECT_EQ(d.ShowOpen(), "/a");
    EXPECT_EQ(d.GetNextFile(), "/b");
    port.answer = "/srv/x\0c\0d\0\0"s;  // a new selection drops the rest of the old one
    d.ShowOpen();
    port.answer = "/srv/one.txt\0\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv/one.txt");
    EXPECT_EQ(d.FileCount(), 1);
    EXPECT_EQ(d.GetNextFile(), "");
}

TEST_F(DateidialogTest, SelectionsThatAreNotSplitLeaveNothingForGetNextFile) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv\0a\0b\0c\0\0"s;
    d.ShowOpen();
    d.MultiSelect(false);
    port.answer = "/srv/single\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv/single");
    EXPECT_EQ(d.GetNextFile(), "");

    d.MultiSelectOCXCompatible(true);
    port.answer = "/srv\0a\0b\0c\0\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv\0a\0b\0c"s);
    EXPECT_EQ(d.FileCount(), 1);  // as the single selection left it
    EXPECT_EQ(d.GetNextFile(), "");
    port.answer = "/srv/one\0\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv/one");
}

TEST_F(DateidialogTest, CancelEmptiesTheResultAndSaveLeavesTheSelection) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv\0a\0b\0c\0\0"s;
    d.ShowOpen();
    port.answer = "/srv/neu.ini\0"s;
    EXPECT_EQ(d.ShowSave(), "/srv/neu.ini");
    port.cancel = true;
    EXPECT_EQ(d.ShowSave(), "");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/b");
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.FileCount(), 0);
    EXPECT_EQ(d.GetNextFile(), "");

    C_Dateidialog folder = Make();
    EXPECT_EQ(folder.ShowFolder(), "");
    EXPECT_EQ(folder.FileName(), "");
    EXPECT_EQ(port.pathBuffer, std::string(512, ' '));
    port.folder = ITEMIDLIST{"/srv/tarnu"};
    EXPECT_EQ(folder.ShowFolder(), "/srv/tarnu");
    EXPECT_EQ(folder.FileName(), "/srv/tarnu");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DateidialogTest, PresetNameMustFitTheBufferInBytes) {
    C_Dateidialog d = Make();
    d.DefaultFileName(std::string(512, 'n'));
    port.answer = "/srv/KDL.mdb\0"s;
    d.ShowOpen();
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
    port.answer = "/srv\0a\0b\0\0"s;
    d.ShowOpen();
    port.answer = std::string(2500, 'x');  // more than the buffer, and no NUL in it
    EXPECT_EQ(d.ShowOpen(), "");
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

TEST_F(DateidialogTest, SettersTakeEffectAtTheNextDialog) {
    C_Dateidialog single = Make();
    single.MultiSelectOCXCompatible(true);
    single.MultiSelect(false);
    single.InitDir("/a");
    single.DefaultDir("/b");
    single.DefaultExt("mdb");
    single.DialogTitle("");
    single.DefaultFileName("KDL.mdb");
    port.answer = "/b/KDL.mdb\0"s;
    EXPECT_EQ(single.ShowOpen(), "/b/KDL.mdb");
    const OPENFILENAMEA& r = port.opened.back();
    EXPECT_EQ(r.nMaxFile, 2000u);
    EXPECT_EQ(r.Flags, 0x1804u);
    EXPECT_EQ(r.lpstrInitialDir, "/b\0"s);
    EXPECT_EQ(r.lpstrTitle, "\0"s);
    EXPECT_EQ(r.lpstrFile, "KDL.mdb" + std::string(1993, '\0'));
    single.ShowSave();
    EXPECT_EQ(port.saved.back().lpstrTitle, "\0"s) << "an empty title is no missing title";
}

}  // namespace
