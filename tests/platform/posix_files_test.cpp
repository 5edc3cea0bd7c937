#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/posix/posix_files.h"
#include "platform/linux/posix/safe_open.h"
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
    EXPECT_EQ(files.Dir(dir.file("KDL.mdb")), "KDL.mdb");
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

TEST_F(PosixFiles, CurrentDirectoryAndClock) {
    ScopedCurrentDir cd(dir.path());
    EXPECT_EQ(files.CurDir(), dir.path());
    const LocalDateTime t = files.Now();
    EXPECT_GE(t.year, 2024);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
    EXPECT_TRUE(t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59);
}

using posix::OpenRegular;
using posix::RewriteTarget;

TEST(OpenRegular, OpensOnlyRegularFilesAndNeverWaits) {
    TempDir dir;
    WriteFile(dir.file("file"), "x");
    ASSERT_EQ(::symlink("file", dir.file("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ::mkdir(dir.file("folder").c_str(), 0700);

    EXPECT_TRUE(OpenRegular(dir.file("file"), O_RDONLY).ok());
    errno = 0;
    EXPECT_FALSE(OpenRegular(dir.file("link"), O_RDONLY).ok());
    EXPECT_EQ(errno, ELOOP);
    // Without a writer a plain open of the FIFO would wait for ever.
    errno = 0;
    EXPECT_FALSE(OpenRegular(dir.file("fifo"), O_RDONLY).ok());
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_FALSE(OpenRegular(dir.file("folder"), O_RDONLY).ok());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(OpenRegular("/dev/zero", O_RDONLY).ok());
}

TEST(RewriteTarget, FollowsChainsOfLinksToTheirEnd) {
    TempDir dir;
    ::mkdir(dir.file("shared").c_str(), 0755);
    WriteFile(dir.file("shared/KDL.mdb"), "x");
    ASSERT_EQ(::symlink("shared/KDL.mdb", dir.file("hop").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("hop").c_str(), dir.file("KDL.mdb").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);

    int error = 0;
    EXPECT_EQ(RewriteTarget(dir.file("KDL.mdb"), error), dir.file("shared/KDL.mdb"));
    EXPECT_EQ(RewriteTarget(dir.file("shared/KDL.mdb"), error), dir.file("shared/KDL.mdb"));
    EXPECT_EQ(RewriteTarget(dir.file("new.ini"), error), dir.file("new.ini"))
        << "a name with nothing behind it is a file still to be made";

    error = 0;
    EXPECT_EQ(RewriteTarget(dir.file("dangling"), error), "");
    EXPECT_EQ(error, ENOENT) << "a link that ends nowhere must not make a file where it points";
    error = 0;
    EXPECT_EQ(RewriteTarget(dir.file("loop"), error), "");
    EXPECT_EQ(error, ELOOP);
}

TEST(RewriteTarget, RefusesLinksOfOtherUsersInFoldersTheyDoNotOwn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    TempDir dir;
    WriteFile(dir.file("root-only"), "secret");
    ::mkdir(dir.file("theirs").c_str(), 0755);
    ASSERT_EQ(::chown(dir.file("theirs").c_str(), 65534, 65534), 0);
    for (const char* name : {"mine.ini", "theirs/their.ini"}) {
        ASSERT_EQ(::symlink(dir.file("root-only").c_str(), dir.file(name).c_str()), 0);
        ASSERT_EQ(::lchown(dir.file(name).c_str(), 65534, 65534), 0);
    }

    int error = 0;
    EXPECT_EQ(RewriteTarget(dir.file("mine.ini"), error), "")
        << "another user's link in root's folder must not lead a root run to root's file";
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(RewriteTarget(dir.file("theirs/their.ini"), error), dir.file("root-only"))
        << "the owner of a folder may place links in it";
}

}  // namespace
}  // namespace tarnu::test
