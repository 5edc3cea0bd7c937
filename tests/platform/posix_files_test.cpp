#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/posix/posix_files.h"
#include "ports/error.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

class PosixFiles : public ::testing::Test {
  protected:
    TempDir dir;
    posix::PosixFileServices files;
};

TEST_F(PosixFiles, DirFindsOnlyFiles) {
    WriteFile(dir.file("KDL.mdb"), "x");
    ::mkdir(dir.file("sub").c_str(), 0755);
    ScopedCurrentDir cd(dir.path());
    EXPECT_EQ(files.CurDir(), dir.path());
    EXPECT_EQ(files.Dir("KDL.mdb"), "KDL.mdb");
    EXPECT_EQ(files.Dir(dir.file("kdl.mdb")), "") << "names are matched as the file system does";
    EXPECT_EQ(files.Dir(dir.file("missing.mdb")), "");
    EXPECT_EQ(files.Dir(dir.file("sub")), "") << "folders are not files";
    EXPECT_EQ(files.Dir(dir.path() + "/"), "");
    EXPECT_EQ(files.Dir(""), "");
}

TEST_F(PosixFiles, KillAndNameRaiseThePlatformsFileErrors) {
    WriteFile(dir.file("a"), "a");
    WriteFile(dir.file("b"), "b");
    EXPECT_EQ(ErrorOf([&] { files.Name(dir.file("a"), dir.file("b")); }), err::FileAlreadyExists);
    EXPECT_EQ(ReadFile(dir.file("b")), "b") << "a rename must never replace";
    EXPECT_EQ(ErrorOf([&] { files.Name(dir.file("none"), dir.file("c")); }), err::FileNotFound);
    EXPECT_EQ(ErrorOf([&] { files.Name(dir.file("a"), dir.file("c")); }), 0);
    EXPECT_EQ(ReadFile(dir.file("c")), "a");

    EXPECT_EQ(ErrorOf([&] { files.Kill(dir.file("none")); }), err::FileNotFound);
    ::chmod(dir.file("c").c_str(), 0444);
    EXPECT_EQ(ErrorOf([&] { files.Kill(dir.file("c")); }), err::PathFileAccessError);
    EXPECT_TRUE(FileExists(dir.file("c"))) << "read-only files are not deleted, even by root";
    ::chmod(dir.file("c").c_str(), 0644);
    EXPECT_EQ(ErrorOf([&] { files.Kill(dir.file("c")); }), 0);
    EXPECT_FALSE(FileExists(dir.file("c")));
}

TEST_F(PosixFiles, ReplaceKeepsBothFilesWhenItFails) {
    WriteFile(dir.file("old"), "old");
    WriteFile(dir.file("new"), "new");
    ::chmod(dir.file("old").c_str(), 0444);
    EXPECT_EQ(ErrorOf([&] { files.ReplaceFile(dir.file("new"), dir.file("old")); }),
              err::PathFileAccessError);
    EXPECT_EQ(ReadFile(dir.file("old")), "old");
    EXPECT_EQ(ReadFile(dir.file("new")), "new");

    EXPECT_EQ(ErrorOf([&] { files.ReplaceFile(dir.file("new"), dir.file("gone")); }),
              err::FileNotFound);
    EXPECT_EQ(ReadFile(dir.file("new")), "new");

    ::chmod(dir.file("old").c_str(), 0644);
    files.SyncFile(dir.file("new"));
    files.ReplaceFile(dir.file("new"), dir.file("old"));
    EXPECT_EQ(ReadFile(dir.file("old")), "new");
    EXPECT_FALSE(FileExists(dir.file("new")));
    EXPECT_EQ(ErrorOf([&] { files.SyncFile(dir.file("new")); }), err::FileNotFound);
}

// A folder that can be written but not read: the replace is done once the name holds the new
// file, and it must not be reported as failed afterwards.
TEST_F(PosixFiles, AReplaceInAFolderThatCannotBeReadSucceeds) {
    const std::string folder = dir.file("nur-schreiben");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    WriteFile(folder + "/old", "old");
    WriteFile(folder + "/new", "new");
    // The runner is an ordinary user: root reads every folder.
    OpenForUnprivilegedUser(dir.path());
    GiveToUnprivilegedUser(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0300), 0);
    const pid_t child = StartChild(
        [&] { return ErrorOf([&] { files.ReplaceFile(folder + "/new", folder + "/old"); }); },
        true);
    EXPECT_EQ(WaitChild(child), 0);
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(ReadFile(folder + "/old"), "new");
    EXPECT_FALSE(FileExists(folder + "/new"));
}

TEST_F(PosixFiles, WriteBehindFollowsAFileThatAppearsLaterAndStopsWithItsOwner) {
    const std::string path = dir.file("copy");
    std::string bytes(4 << 20, 'x');
    {
        auto writing = files.WriteBehind(path);
        for (size_t i = 0; i < bytes.size(); i += 4096) {
            bytes[i] = char('a' + i / 4096 % 26);
        }
        WriteFile(path, bytes);
        WriteFile(dir.file("other"), "y");
    }
    files.SyncFile(path);
    EXPECT_EQ(ReadFile(path), bytes) << "pushing pages out early must not change them";
    // A file that never appears, or goes again, is no error.
    { auto idle = files.WriteBehind(dir.file("never")); }
    EXPECT_FALSE(FileExists(dir.file("never")));
}

}  // namespace
}  // namespace tarnu::test
