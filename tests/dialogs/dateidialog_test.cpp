#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dialogs/c_dateidialog.h"
#include "ports/error.h"

using namespace std::string_literals;
using tarnu::commdlg::BROWSEINFOA;
using tarnu::commdlg::OPENFILENAMEA;
using tarnu::commdlg::PIDLIST_ABSOLUTE;
using tarnu::dialogs::C_Dateidialog;

namespace tarnu::dialogs {
// Reaches the private procedures that no public member can drive into every case.
class DateidialogProbe {
  public:
    static std::int16_t CountFiles(C_Dateidialog& d, const std::string& list) {
        return d.CountFiles(list);
    }
    static void CheckFlags(C_Dateidialog& d, const std::string& intention) {
        d.CheckFlags(intention);
    }
};
}  // namespace tarnu::dialogs
using tarnu::dialogs::DateidialogProbe;

namespace {

struct Box {
    std::string text;
    int style;
    std::string title;
};

class RecordedBoxes : public tarnu::ui::MessageBoxes {
  public:
    void Show(const std::string& text, int style, const std::string& title) override {
        shown.push_back({text, style, title});
    }
    std::vector<Box> shown;
};

// Answers like the common dialogs, as scripted: a confirmed answer is written over the start
// of the buffer; every request is kept.
class ScriptedDialogs : public tarnu::commdlg::CommonDialogs {
  public:
    std::int32_t GetOpenFileNameA(OPENFILENAMEA& ofn) override { return Answer(ofn, opened); }
    std::int32_t GetSaveFileNameA(OPENFILENAMEA& ofn) override { return Answer(ofn, saved); }
    PIDLIST_ABSOLUTE SHBrowseForFolderA(BROWSEINFOA& bi) override {
        browsed.push_back(bi);
        if (failWith != 0) {
            throw tarnu::Error(failWith);
        }
        return folder;
    }
    std::int32_t SHGetPathFromIDListA(const PIDLIST_ABSOLUTE& pidl, std::string& path) override {
        pathBuffers.push_back(path);
        if (!pidl) {
            return 0;
        }
        path.replace(0, pidl->path.size() + 1, pidl->path + '\0');
        return 1;
    }

    std::string answer;  // the selection layout; none means cancel
    bool cancel = false;
    std::int32_t failWith = 0;
    PIDLIST_ABSOLUTE folder;
    std::vector<OPENFILENAMEA> opened, saved;
    std::vector<BROWSEINFOA> browsed;
    std::vector<std::string> pathBuffers;

  private:
    std::int32_t Answer(OPENFILENAMEA& ofn, std::vector<OPENFILENAMEA>& requests) {
        requests.push_back(ofn);
        if (failWith != 0) {
            throw tarnu::Error(failWith);
        }
        if (cancel) {
            return 0;
        }
        ofn.lpstrFile.replace(0, answer.size(), answer);
        return 1;
    }
};

class DateidialogTest : public testing::Test {
  protected:
    C_Dateidialog Make() {
        return C_Dateidialog(boxes, port, [this] { return currentDir; });
    }
    std::string OpenFilter(C_Dateidialog& d) {
        d.ShowOpen();
        return port.opened.back().lpstrFilter;
    }

    std::string currentDir = "/home/anna";
    RecordedBoxes boxes;
    ScriptedDialogs port;
};

TEST_F(DateidialogTest, FreshObjectFillsTheOpenRequestWithItsDefaults) {
    C_Dateidialog d = Make();
    currentDir = "/elsewhere";  // the directory at creation counts, not the one at the dialog
    EXPECT_EQ(d.FileName(), std::string(512, '\0'));
    port.answer = "/home/anna/a.txt\0"s;
    EXPECT_EQ(d.ShowOpen(), "/home/anna/a.txt");
    const OPENFILENAMEA& r = port.opened.at(0);
    EXPECT_EQ(r.lStructSize, 76u);
    EXPECT_EQ(r.hwndOwner, 0);
    EXPECT_EQ(r.lpstrFilter, "Alle Dateien\0*.*\0\0"s);
    EXPECT_EQ(r.nFilterIndex, 1u);
    EXPECT_EQ(r.lpstrFile, std::string(512, '\0'));
    EXPECT_EQ(r.nMaxFile, 512u);
    EXPECT_EQ(r.lpstrInitialDir, "/home/anna\0"s);
    EXPECT_EQ(r.lpstrTitle, "Datei öffnen\0"s);
    EXPECT_EQ(r.Flags, 0x1804u);
    EXPECT_EQ(r.lpstrDefExt, "\0"s);
    EXPECT_EQ(d.FileName(), "/home/anna/a.txt");
    EXPECT_EQ(d.FileCount(), 1);
    EXPECT_EQ(d.GetNextFile(), "");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DateidialogTest, CreationReportsAFailingCurrentDirectoryAndGoesOn) {
    C_Dateidialog d(boxes, port,
                    []() -> std::string { throw tarnu::Error(tarnu::err::PathNotFound); });
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Pfad nicht gefunden");
    EXPECT_EQ(boxes.shown[0].style, tarnu::ui::vbOKOnly);
    EXPECT_EQ(boxes.shown[0].title, "Exit_Class_Initialize");
    EXPECT_EQ(d.FileName(), std::string(512, '\0'));
    d.ShowOpen();
    EXPECT_EQ(port.opened.at(0).lpstrInitialDir, "");
}

TEST_F(DateidialogTest, FilterListJoinsFilterAndCompleteNumberedEntries) {
    C_Dateidialog none = Make();
    none.Filter1Text("Nur Text");
    none.Filter3Suffix("*.mdb");
    EXPECT_EQ(OpenFilter(none), "Alle Dateien\0*.*\0\0"s);

    C_Dateidialog gaps = Make();
    gaps.Filter2Text("Datenbanken");
    gaps.Filter2Suffix("*.mdb;*.mde");
    gaps.Filter4Text("Texte");
    gaps.Filter4Suffix("*.txt");
    EXPECT_EQ(OpenFilter(gaps), "Datenbanken\0*.mdb;*.mde\0Texte\0*.txt\0\0\0"s);

    C_Dateidialog both = Make();
    both.Filter("Alle\0*.*\0\0\0"s);  // stored as given, its trailing NULs go when joined
    both.Filter5Text("INI");
    both.Filter5Suffix("*.ini");
    EXPECT_EQ(OpenFilter(both), "Alle\0*.*\0INI\0*.ini\0\0\0"s);
    EXPECT_EQ(OpenFilter(both), "Alle\0*.*\0INI\0*.ini\0\0\0"s);

    C_Dateidialog unterminated = Make();
    unterminated.Filter("Texte\0*.txt"s);
    EXPECT_EQ(OpenFilter(unterminated), "Texte\0*.txt\0\0\0"s);
    unterminated.Filter("X");
    EXPECT_EQ(OpenFilter(unterminated), "X\0\0\0"s);
}

TEST_F(DateidialogTest, FilterOfNothingButNulsCountsAsNone) {
    C_Dateidialog empty = Make();
    empty.Filter("");
    EXPECT_EQ(OpenFilter(empty), "Alle Dateien\0*.*\0\0"s);
    C_Dateidialog lone = Make();
    lone.Filter("\0"s);
    lone.Filter1Text("Texte");
    lone.Filter1Suffix("*.txt");
    EXPECT_EQ(OpenFilter(lone), "Texte\0*.txt\0\0\0"s);
}

TEST_F(DateidialogTest, FlagsFollowTheIntentionUnlessGiven) {
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
    given.ShowOpen();
    EXPECT_EQ(port.saved.back().Flags, 0x80202u);
    EXPECT_EQ(port.opened.back().Flags, 0x80202u);
}

TEST_F(DateidialogTest, UnknownIntentionIsReportedAndChoosesNoFlags) {
    C_Dateidialog d = Make();
    DateidialogProbe::CheckFlags(d, "open");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Unbekannte Intention: open");
    EXPECT_EQ(boxes.shown[0].style, tarnu::ui::vbOKOnly | tarnu::ui::vbCritical);
    EXPECT_EQ(boxes.shown[0].title, "CheckFlags");
    d.ShowSave();
    EXPECT_EQ(port.saved.back().Flags, 0x806u);
}

TEST_F(DateidialogTest, OpenDefaultsStayInForceForSaveAndFolder) {
    C_Dateidialog d = Make();
    d.hwnd(0x5A0001);
    d.ShowFolder();
    EXPECT_EQ(port.browsed.at(0).lpszTitle, "");
    EXPECT_EQ(port.browsed.at(0).hwndOwner, 0x5A0001);
    EXPECT_EQ(port.browsed.at(0).ulFlags, 1u);
    d.ShowOpen();
    d.ShowSave();
    EXPECT_EQ(port.saved.at(0).lpstrTitle, "Datei öffnen\0"s);
    EXPECT_EQ(port.saved.at(0).Flags, 0x1804u);
    d.ShowFolder();
    EXPECT_EQ(port.browsed.at(1).lpszTitle, "Datei öffnen\0"s);
}

TEST_F(DateidialogTest, CountFilesCountsNamesUpToTheFirstEmptyOne) {
    C_Dateidialog d = Make();
    EXPECT_EQ(DateidialogProbe::CountFiles(d, "no terminator"), 0);
    EXPECT_EQ(DateidialogProbe::CountFiles(d, "a\0b\0\0\0\0"s), 2);
    EXPECT_EQ(DateidialogProbe::CountFiles(d, "a\0b\0c\0"s), 3);  // the closing NUL missing
    EXPECT_EQ(DateidialogProbe::CountFiles(d, "a\0b"s), 1);
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
    EXPECT_EQ(d.FileCount(), 1);  // left as the single selection set it
    EXPECT_EQ(d.GetNextFile(), "");
    port.answer = "/srv/one\0\0"s;
    EXPECT_EQ(d.ShowOpen(), "/srv/one");
}

TEST_F(DateidialogTest, SaveLeavesTheOpenSelectionAlone) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv\0a\0b\0c\0\0"s;
    d.ShowOpen();
    port.answer = "/srv/neu.ini\0"s;
    EXPECT_EQ(d.ShowSave(), "/srv/neu.ini");
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/b");
    port.cancel = true;
    EXPECT_EQ(d.ShowSave(), "");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.FileCount(), 3);
    EXPECT_EQ(d.GetNextFile(), "/srv/c");
}

TEST_F(DateidialogTest, CancelEmptiesResultAndFileName) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv\0a\0b\0\0"s;
    d.ShowOpen();
    port.cancel = true;
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.FileName(), "");
    EXPECT_EQ(d.FileCount(), 0);
    EXPECT_EQ(d.GetNextFile(), "");

    C_Dateidialog folder = Make();
    EXPECT_EQ(folder.ShowFolder(), "");
    EXPECT_EQ(folder.FileName(), "");
    EXPECT_EQ(port.pathBuffers.at(0), std::string(512, ' '));
    port.folder = tarnu::commdlg::ITEMIDLIST{"/srv/tarnu"};
    EXPECT_EQ(folder.ShowFolder(), "/srv/tarnu");
    EXPECT_EQ(folder.FileName(), "/srv/tarnu");
    EXPECT_TRUE(boxes.shown.empty());
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
    EXPECT_EQ(port.opened.size(), 1u);
    EXPECT_TRUE(port.saved.empty());
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, "Exit_ShowOpen");
    EXPECT_EQ(boxes.shown[1].title, "Exit_ShowSave");
    EXPECT_EQ(boxes.shown[1].text, tarnu::standardErrorDescription(5));
    EXPECT_EQ(boxes.shown[1].style, tarnu::ui::vbOKOnly);
    EXPECT_EQ(d.FileName(), "/srv/KDL.mdb");
}

TEST_F(DateidialogTest, PlatformFailuresAreShownAndAbsorbed) {
    C_Dateidialog d = Make();
    port.failWith = tarnu::err::PermissionDenied;
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.ShowFolder(), "");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "Zugriff verweigert");
    EXPECT_EQ(boxes.shown[0].title, "Exit_ShowOpen");
    EXPECT_EQ(boxes.shown[1].text, "70: Zugriff verweigert");
    EXPECT_EQ(boxes.shown[1].title, "ShowFolder");
}

TEST_F(DateidialogTest, SelectionWithoutTerminatorIsReportedAndLeavesNothing) {
    C_Dateidialog d = Make();
    d.MultiSelect(true);
    port.answer = "/srv\0a\0b\0\0"s;
    d.ShowOpen();
    port.answer = std::string(2500, 'x');  // more than the buffer, and no NUL in it
    EXPECT_EQ(d.ShowOpen(), "");
    EXPECT_EQ(d.FileCount(), 0);
    EXPECT_EQ(d.GetNextFile(), "");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Exit_ParseAuswahl");
}

TEST_F(DateidialogTest, SettersTakeEffectAtTheNextDialog) {
    C_Dateidialog d = Make();
    d.MultiSelectOCXCompatible(false);
    d.ShowOpen();
    EXPECT_EQ(port.opened.back().nMaxFile, 512u);
    EXPECT_EQ(port.opened.back().Flags, 0x1804u);

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
    EXPECT_EQ(r.lpstrDefExt, "mdb\0"s);
    EXPECT_EQ(r.lpstrTitle, "\0"s);
    EXPECT_EQ(r.lpstrFile, "KDL.mdb" + std::string(1993, '\0'));
    single.InitDir("/c");
    single.ShowSave();
    EXPECT_EQ(port.saved.back().lpstrInitialDir, "/c\0"s);
    EXPECT_EQ(port.saved.back().lpstrTitle, "\0"s);
}

}  // namespace
