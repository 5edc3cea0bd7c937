#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "dbmaint/cleanup.h"
#include "dbmaint/compaction_run.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

class CompactionRun : public ::testing::Test {
  protected:
    CompactionRun() {
        CopyDemoFolder(dir.path());
        for (const auto& name : kProgramFiles) {
            inodes[name] = InodeOf(dir.file(name));
            sizes[name] = FileSize(dir.file(name));
        }
        rows = ReadProgramFolder(dir.path());
    }

    static off_t FileSize(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_size;
    }
    bool Replaced(const std::string& name) { return InodeOf(dir.file(name)) != inodes[name]; }
    std::vector<bool> ReplacedFiles() {
        std::vector<bool> r;
        for (const auto& name : kProgramFiles) {
            r.push_back(Replaced(name));
        }
        return r;
    }
    // The one box the run showed: its text, after checking that it is the critical one.
    std::string FailureText() {
        EXPECT_EQ(boxes.boxes.size(), 1u);
        if (boxes.boxes.empty()) {
            return "";
        }
        EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
        EXPECT_EQ(boxes.boxes[0].title, "Tarnu");
        return boxes.boxes[0].text;
    }
    bool KdlHasLinks() {
        for (const auto& [name, attributes] : ReadContent(dir.file("KDL.mdb")).defs) {
            if (attributes == dao::dbAttachedTable || attributes == dao::dbAttachedODBC) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    std::map<std::string, ino_t> inodes;
    std::map<std::string, off_t> sizes;
    std::map<std::string, DbContent> rows;
    FaultyFiles files;
    RecordingMessageBoxes boxes;
    std::shared_ptr<RecordingEngine::Log> log = std::make_shared<RecordingEngine::Log>();
    dbmaint::EngineHolder holder{[this] { return std::make_unique<RecordingEngine>(log); }};
    dbmaint::CompactionRun run{holder, files, boxes, [this] { return dir.path(); }};
};

TEST_F(CompactionRun, CompactsAllFourInPlaceAndSaysSoOnce) {
    run();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Die Programmdateien wurden erfolgreich komprimiert!");
    EXPECT_EQ(boxes.boxes[0].style, ui::vbInformation);
    EXPECT_EQ(boxes.boxes[0].title, "Tarnu");

    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, true));
    for (const auto& name : kProgramFiles) {
        EXPECT_LT(FileSize(dir.file(name)), sizes[name]) << name << " did not shrink";
    }
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows) << "every row must be kept";

    ASSERT_EQ(log->compactions.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(log->compactions[i].source, dir.file(kProgramFiles[i]));
        // Only the protected file gets its password.
        EXPECT_EQ(log->compactions[i].password,
                  i == 0 ? std::optional<std::string>(";pwd=brisk") : std::nullopt);
    }
}

TEST_F(CompactionRun, EachFileGetsTheTimeOfItsOwnStep) {
    files.clock = {{2026, 12, 6, 4, 51, 1},
                   {2026, 12, 6, 4, 51, 2},
                   {2027, 1, 31, 23, 59, 59},
                   {2027, 2, 1, 0, 0, 0}};
    run();
    ASSERT_EQ(log->compactions.size(), 4u);
    const std::vector<std::string> expected = {"06122026045101", "06122026045102", "31012027235959",
                                               "01022027000000"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(log->compactions[i].destination, dir.path() + "/" + expected[i] + "Dummy.mdb");
    }
}

TEST_F(CompactionRun, MissingSystemSrvStopsAtTheFirstFileAfterAWholeCleanup) {
    std::remove(dir.file("system.srv").c_str());
    files.clock = {{2026, 12, 6, 4, 51, 1}};
    run();
    const std::string text = FailureText();
    EXPECT_NE(text.find("system.srv"), std::string::npos) << text;
    EXPECT_FALSE(KdlHasLinks()) << "the clean-up ran before";
    ASSERT_EQ(log->compactions.size(), 1u);
    // No name was found, so the whole path is the folder part of the temporary name.
    EXPECT_EQ(log->compactions[0].destination, dir.file("system.srv") + "06122026045101Dummy.mdb");
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_FALSE(Replaced(name)) << name;
    }
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
}

TEST_F(CompactionRun, ACleanupErrorEndsTheRunBeforeAnyCompaction) {
    // kdlcode.mde is missing from the program folder, which is also the current directory.
    std::remove(dir.file("kdlcode.mde").c_str());
    run();
    EXPECT_NE(FailureText().find("kdlcode.mde"), std::string::npos);
    EXPECT_FALSE(KdlHasLinks()) << "what the clean-up did before the error stays done";
    EXPECT_TRUE(log->compactions.empty());
    EXPECT_FALSE(Replaced("system.srv"));

    // The databases are looked for in the current directory, not in the program folder.
    TempDir elsewhere;
    ScopedCurrentDir away(elsewhere.path());
    boxes.boxes.clear();
    run();
    EXPECT_NE(FailureText().find("KDL.mdb"), std::string::npos);
    EXPECT_TRUE(log->compactions.empty());
}

TEST_F(CompactionRun, AFileHeldByAnotherProcessStopsTheRunThere) {
    HoldingChild holder(dir.file("KDL.mdb"));
    ASSERT_EQ(holder.openResult(), 0);
    run();
    EXPECT_NE(FailureText().find("bereits verwendet"), std::string::npos);
    EXPECT_EQ(ReplacedFiles(), (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(DummyFiles(dir.path()).empty()) << "a failed compaction leaves no copy";
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

TEST_F(CompactionRun, AWrongPasswordCompactsNothing) {
    std::remove(dir.file("system.srv").c_str());
    {
        auto eng = engine::MakeEngine();
        auto db = eng->CreateDatabase(dir.file("system.srv"), ";pwd=anders");
        db->Execute("CREATE TABLE Benutzer (ID LONG)");
    }
    const ino_t srv = InodeOf(dir.file("system.srv"));
    run();
    EXPECT_EQ(FailureText(), "Kein gültiges Kennwort.");
    EXPECT_EQ(InodeOf(dir.file("system.srv")), srv);
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_FALSE(Replaced(name)) << name;
    }
    EXPECT_FALSE(KdlHasLinks());
}

TEST_F(CompactionRun, AReadOnlyFileIsNotReplacedAndItsCopyStays) {
    ::chmod(dir.file("system.srv").c_str(), 0444);
    const std::string bytes = ReadFile(dir.file("system.srv"));
    run();
    EXPECT_EQ(FailureText(), "Fehler beim Zugriff auf Pfad/Datei");
    EXPECT_EQ(ReadFile(dir.file("system.srv")), bytes);
    EXPECT_EQ(ReplacedFiles(), (std::vector<bool>{false, false, false, false}));
    const auto copies = DummyFiles(dir.path());
    ASSERT_EQ(copies.size(), 1u);
    // The copy is a whole database with the file's rows and password.
    EXPECT_EQ(ReadContent(dir.file(copies[0]), ";pwd=brisk").rows, rows["system.srv"].rows);
}

TEST_F(CompactionRun, OneEngineServesEveryRun) {
    run();
    run();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].style, ui::vbInformation);
    EXPECT_EQ(log->created, 1);
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

// A file error at any step of any file: the earlier files stay compacted, the failing one and
// the later ones stay as they were, and only a copy that was already complete is left over.
class FileFault : public CompactionRun,
                  public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(FileFault, LeavesEveryNameWholeAndStopsAtTheFailingFile) {
    const auto [operation, nth] = GetParam();
    files.FailAt(operation, nth, Error(err::DeviceIoError));
    run();
    EXPECT_EQ(FailureText(), "Fehler beim Geräte-E/A");
    std::vector<bool> expected(4, false);
    for (int i = 0; i < nth - 1; ++i) {
        expected[i] = true;
    }
    EXPECT_EQ(ReplacedFiles(), expected);
    const bool copyWritten =
        std::string(operation) == "SyncFile" || std::string(operation) == "ReplaceFile";
    EXPECT_EQ(DummyFiles(dir.path()).size(), copyWritten ? 1u : 0u);
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FileFault,
                         ::testing::Combine(::testing::Values("Dir", "Now", "SyncFile",
                                                              "ReplaceFile"),
                                            ::testing::Values(1, 2, 3, 4)));

}  // namespace
}  // namespace tarnu::test
