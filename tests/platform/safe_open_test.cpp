#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/posix/safe_open.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

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

    posix::UniqueFd created = OpenRegular(dir.file("new"), O_RDWR | O_CREAT | O_EXCL, 0600);
    EXPECT_TRUE(created.ok());
    EXPECT_TRUE(created.Close());
    EXPECT_FALSE(created.ok());
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
