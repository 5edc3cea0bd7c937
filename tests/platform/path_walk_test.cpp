#include "platform/linux/files/path_walk.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/linux/files/file_io.h"
#include "ports/printable_name.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

constexpr uid_t kOther = 65534;

mode_t Umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A tree as a root run meets it: root's own folder and file, and a folder of another user who
// plants links and files there.
struct Tree {
    explicit Tree(std::string at) : base(std::move(at)) {
        ::mkdir(base.c_str(), 0755);
        ::mkdir(Path("root").c_str(), 0700);
        WriteFile(Path("root/secret"), "secret");
        WriteFile(Path("mine"), "mine");
        ::mkdir(Path("theirs").c_str(), 0777);
        WriteFile(Path("theirs/file"), "theirs");
        if (::geteuid() == 0) {
            Own("theirs/file");
            Own("theirs");
        }
    }
    std::string Path(const std::string& name) const { return base + "/" + name; }
    void Own(const std::string& name) const {
        ASSERT_EQ(::lchown(Path(name).c_str(), kOther, kOther), 0);
    }
    void Link(const std::string& target, const std::string& name, bool theirs) const {
        ASSERT_EQ(::symlink(target.c_str(), Path(name).c_str()), 0);
        if (theirs) {
            Own(name);
        }
    }

    std::string base;
};

std::string Read(const files::Reached& r) {
    std::string out;
    files::ReadWhole(r.fd.get(), 1 << 20, out);
    return out;
}

class PathWalk : public ::testing::Test {
  protected:
    void SetUp() override { OpenForUnprivilegedUser(dir.path()); }
    std::string Path(const std::string& name) const { return t.Path(name); }
    void Link(const std::string& target, const std::string& name, bool theirs) const {
        t.Link(target, name, theirs);
    }

    TempDir dir;
    Tree t{dir.file("tree")};
};

TEST_F(PathWalk, FollowsOnlyLinksTheRuleAllows) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "links of another user need root to make";
    }
    struct Row {
        const char* what;
        std::function<void(Tree&)> plant;
        const char* path;
        int error;
        const char* content;
    };
    const Row rows[] = {
        {"a plain file", [](Tree&) {}, "mine", 0, "mine"},
        {"root's link in root's folder", [](Tree& t) { t.Link(t.Path("mine"), "l", false); }, "l",
         0, "mine"},
        {"another user's link in root's folder",
         [](Tree& t) { t.Link(t.Path("theirs/file"), "l", true); }, "l", files::kRefusedLink,
         nullptr},
        {"their link in their folder to their file",
         [](Tree& t) { t.Link("file", "theirs/l", true); }, "theirs/l", 0, "theirs"},
        {"their link in their folder to root's file",
         [](Tree& t) { t.Link(t.Path("root/secret"), "theirs/l", true); }, "theirs/l",
         files::kRefusedLink, nullptr},
        {"their link to root's folder in the middle of the path",
         [](Tree& t) { t.Link(t.Path("root"), "theirs/d", true); }, "theirs/d/secret",
         files::kRefusedLink, nullptr},
        {"their link to their folder, then root's link out of it",
         [](Tree& t) {
             ::mkdir(t.Path("theirs/sub").c_str(), 0755);
             t.Own("theirs/sub");
             t.Link("sub", "theirs/d", true);
         },
         "theirs/d/../file", 0, "theirs"},
        {"a relative chain of root's links",
         [](Tree& t) {
             t.Link("../mine", "root/up", false);
             t.Link("root/up", "chain", false);
         },
         "chain", 0, "mine"},
        {"a loop of links",
         [](Tree& t) {
             t.Link("b", "a", false);
             t.Link("a", "b", false);
         },
         "a", ELOOP, nullptr},
        {"a folder where a file is wanted", [](Tree&) {}, "root", EISDIR, nullptr},
        {"a file followed by a slash", [](Tree&) {}, "mine/", ENOTDIR, nullptr},
        {"a file in the middle of the path", [](Tree&) {}, "mine/x", ENOTDIR, nullptr},
        {"a missing name", [](Tree&) {}, "none", ENOENT, nullptr},
        {"a FIFO", [](Tree& t) { ::mkfifo(t.Path("fifo").c_str(), 0666); }, "fifo",
         files::kSpecialFile, nullptr},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Tree tree(dir.file("row" + std::to_string(++n)));
        row.plant(tree);
        // A FIFO opened for reading would wait for a writer for ever.
        ::alarm(10);
        files::Reached reached;
        const int error = files::Walk(tree.Path(row.path), {files::Kind::File, O_RDONLY}, reached);
        ::alarm(0);
        EXPECT_EQ(error, row.error);
        if (row.content) {
            ASSERT_TRUE(reached.fd.ok());
            EXPECT_EQ(Read(reached), row.content);
        } else {
            EXPECT_FALSE(reached.fd.ok());
        }
    }
}

TEST_F(PathWalk, AUsersOwnRunFollowsTheirLinksAnywhere) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a second user";
    }
    // As the other user: their own link to a file they may read anywhere is theirs to follow,
    // and root's link in their folder is followed too.
    Link(Path("mine"), "theirs/mine", true);
    Link(Path("theirs/file"), "theirs/root-made", false);
    const auto result = RunInChild(
        [&] {
            files::Reached a, b;
            return std::vector<std::int32_t>{files::Walk(Path("theirs/mine"), {}, a),
                                             files::Walk(Path("theirs/root-made"), {}, b)};
        },
        true);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, (std::vector<std::int32_t>{0, 0}));
}

TEST_F(PathWalk, LastLinksCanBeRefusedOrKeptAndMissingNamesPlaced) {
    Link("mine", "l", false);
    files::Reached refused;
    EXPECT_EQ(
        files::Walk(Path("l"), {files::Kind::File, O_RDONLY, files::LastLink::Refuse}, refused),
        ELOOP);
    files::Reached kept;
    ASSERT_EQ(files::Walk(Path("l"), {files::Kind::File, O_RDONLY, files::LastLink::Keep}, kept),
              0);
    std::string target;
    EXPECT_EQ(files::ReadLink(kept.fd.get(), target), 0);
    EXPECT_EQ(target, "mine");
    EXPECT_EQ(kept.name, "l");

    files::Request missing;
    missing.mayBeMissing = true;
    files::Reached placed;
    // Through a link to the folder: the new file's place is in the folder the link leads to.
    Link("root", "to-root", false);
    ASSERT_EQ(files::Walk(Path("to-root/new"), missing, placed), 0);
    EXPECT_FALSE(placed.fd.ok());
    EXPECT_EQ(placed.name, "new");
    files::UniqueFd created(
        ::openat(placed.folder.get(), "new", O_CREAT | O_EXCL | O_WRONLY, 0600));
    EXPECT_TRUE(created.ok());
    EXPECT_TRUE(FileExists(Path("root/new")));
}

TEST_F(PathWalk, MakesMissingFoldersAndTakesThemAwayAgain) {
    files::Request request;
    request.kind = files::Kind::Folder;
    request.makeFolders = true;
    request.folderMode = 0750;
    files::Reached reached;
    ASSERT_EQ(files::Walk(Path("a/b/c"), request, reached), 0);
    ASSERT_EQ(reached.made.size(), 3u);
    EXPECT_EQ(reached.made.front().name, "a");
    EXPECT_EQ(StatOf(Path("a/b/c")).st_mode & 07777, 0750 & ~Umask());
    // A folder that is no longer empty stays; the empty ones go, innermost first.
    WriteFile(Path("a/kept"), "x");
    for (auto it = reached.made.rbegin(); it != reached.made.rend(); ++it) {
        files::RemoveMadeFolder(*it);
    }
    EXPECT_FALSE(FileExists(Path("a/b")));
    EXPECT_TRUE(FileExists(Path("a/kept")));
}

TEST_F(PathWalk, AnEntrySwappedForALinkOrFifoIsNeverOpened) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a second user";
    }
    // The other user swaps their file for a link to root's secret and for a FIFO as fast as
    // they can; a root walk must read their file or refuse, never the secret, never hang.
    const pid_t swapper = StartChild(
        [&] {
            const std::string name = Path("theirs/x");
            const std::string tmp = Path("theirs/x.tmp");
            for (int i = 0;; ++i) {
                if (i % 3 == 0) {
                    WriteFile(tmp, "theirs");
                } else if (i % 3 == 1) {
                    (void)!::symlink(Path("root/secret").c_str(), tmp.c_str());
                } else {
                    ::mkfifo(tmp.c_str(), 0666);
                }
                ::rename(tmp.c_str(), name.c_str());
            }
            return 0;
        },
        true);
    files::UniqueFd theirs(::open(Path("theirs").c_str(), O_RDONLY | O_DIRECTORY));
    int read = 0;
    ::alarm(30);
    for (int i = 0; i < 2000; ++i) {
        files::Reached reached;
        if (files::Walk(Path("theirs/x"), {}, reached) == 0) {
            ASSERT_EQ(Read(reached), "theirs");
            ++read;
        }
        files::UniqueFd fd;
        struct stat st {};
        if (files::OpenEntry(theirs.get(), "x", files::Kind::File, O_RDONLY, fd, st) == 0) {
            std::string out;
            files::ReadWhole(fd.get(), 100, out);
            ASSERT_EQ(out, "theirs");
        }
    }
    ::alarm(0);
    ::kill(swapper, SIGKILL);
    WaitChild(swapper);
    EXPECT_GT(read, 0) << "the walk must still reach the file when it is there";
}

TEST(PrintableName, EscapesWhatCouldFakeOrReorderALine) {
    struct Row {
        const char* name;
        const char* shown;
    };
    const Row rows[] = {
        {"M\xc3\xbcller.mdb", "M\xc3\xbcller.mdb"},
        {"a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},
        {"\x1b[2Jx", "\\x1B[2Jx"},
        {"c1 \xc2\x85", "c1 \\xC2\\x85"},
        {"rlo \xe2\x80\xae"
         "fdp.exe",
         "rlo \\xE2\\x80\\xAEfdp.exe"},
        {"iso \xe2\x81\xa6x\xe2\x81\xa9", "iso \\xE2\\x81\\xA6x\\xE2\\x81\\xA9"},
        {"ls \xe2\x80\xa8", "ls \\xE2\\x80\\xA8"},
        {"not utf8 \xc0\xaf \xed\xa0\x80", "not utf8 \\xC0\\xAF \\xED\\xA0\\x80"},
        {"cut \xe2\x80", "cut \\xE2\\x80"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PrintableName(row.name), row.shown) << row.shown;
    }
}

}  // namespace
}  // namespace tarnu::test
