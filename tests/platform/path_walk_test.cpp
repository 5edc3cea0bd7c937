#include "platform/linux/files/path_walk.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/linux/files/file_io.h"
#include "ports/printable_name.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

constexpr uid_t kOther = 65534;

// A tree as a root run meets it: root's own folder, file and FIFO, and a folder of another user
// with a file and a folder of theirs, where they plant links.
struct Tree {
    explicit Tree(std::string at) : base(std::move(at)) {
        ::mkdir(base.c_str(), 0755);
        ::mkdir(Path("root").c_str(), 0700);
        WriteFile(Path("root/secret"), "secret");
        WriteFile(Path("mine"), "mine");
        ::mkfifo(Path("fifo").c_str(), 0666);
        ::mkdir(Path("theirs").c_str(), 0777);
        ::mkdir(Path("theirs/sub").c_str(), 0755);
        WriteFile(Path("theirs/file"), "theirs");
        for (const char* name : {"theirs/file", "theirs/sub", "theirs"}) {
            Own(name);
        }
    }
    std::string Path(const std::string& name) const { return base + "/" + name; }
    void Own(const std::string& name) const {
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(Path(name).c_str(), kOther, kOther), 0);
        }
    }
    // A target starting with "/" lies in the tree.
    void Link(const std::string& target, const std::string& name, bool theirs) const {
        const std::string to = target[0] == '/' ? base + target : target;
        ASSERT_EQ(::symlink(to.c_str(), Path(name).c_str()), 0);
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

    TempDir dir;
    Tree t{dir.file("tree")};
};

TEST_F(PathWalk, FollowsOnlyLinksTheRuleAllows) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "links of another user need root to make";
    }
    struct Planted {
        const char* target = nullptr;  // none: nothing planted
        const char* name = nullptr;
        bool theirs = false;
    };
    const auto root = [](const char* target, const char* name) {
        return Planted{target, name, false};
    };
    const auto theirs = [](const char* target, const char* name) {
        return Planted{target, name, true};
    };
    struct Row {
        const char* what;
        const char* path;
        int error;
        const char* content;  // what the walk reads; none where it must open nothing
        Planted link = {};
        Planted second = {};
        bool asOther = false;  // the other user walks
    };
    const Planted none;
    const Row rows[] = {
        {"a plain file", "mine", 0, "mine"},
        {"root's link in root's folder", "l", 0, "mine", root("/mine", "l")},
        {"another user's link in root's folder", "l", files::kRefusedLink, nullptr,
         theirs("/theirs/file", "l")},
        {"their link in their folder to their file", "theirs/l", 0, "theirs",
         theirs("file", "theirs/l")},
        {"their link in their folder to root's file", "theirs/l", files::kRefusedLink, nullptr,
         theirs("/root/secret", "theirs/l")},
        {"their link to root's folder in the middle of the path", "theirs/d/secret",
         files::kRefusedLink, nullptr, theirs("/root", "theirs/d")},
        {"their link to their folder, then .. out of it", "theirs/d/../file", 0, "theirs",
         theirs("sub", "theirs/d")},
        {"a relative chain of root's links", "c", 0, "mine", root("../mine", "root/up"),
         root("root/up", "c")},
        {"a loop of links", "a", ELOOP, nullptr, root("b", "a"), root("a", "b")},
        {"a folder where a file is wanted", "root", EISDIR, nullptr},
        {"a file followed by a slash", "mine/", ENOTDIR, nullptr},
        {"a file in the middle of the path", "mine/x", ENOTDIR, nullptr},
        {"a missing name", "none", ENOENT, nullptr},
        {"a FIFO", "fifo", files::kSpecialFile, nullptr},
        // A user's own run follows their own link to a file they may read anywhere, and root's
        // link in their folder.
        {"their own run, their link to a file they may read", "theirs/l", 0, "mine",
         theirs("/mine", "theirs/l"), none, true},
        {"their own run, root's link", "theirs/l", 0, "theirs", root("/theirs/file", "theirs/l"),
         none, true},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Tree tree(dir.file("row" + std::to_string(++n)));
        for (const Planted& link : {row.link, row.second}) {
            if (link.target) {
                tree.Link(link.target, link.name, link.theirs);
            }
        }
        const auto walk = [&] {
            ::alarm(10);  // a FIFO opened for reading would wait for a writer for ever
            files::Reached reached;
            const int error =
                files::Walk(tree.Path(row.path), {files::Kind::File, O_RDONLY}, reached);
            ::alarm(0);
            const bool read =
                row.content ? reached.fd.ok() && Read(reached) == row.content : !reached.fd.ok();
            return std::vector<std::int32_t>{error, read};
        };
        EXPECT_EQ(
            row.asOther ? RunInChild(walk, true).value_or(std::vector<std::int32_t>{}) : walk(),
            (std::vector<std::int32_t>{row.error, 1}));
    }
}

TEST_F(PathWalk, LastLinksCanBeRefusedOrKeptAndMissingNamesPlaced) {
    t.Link("mine", "l", false);
    files::Reached refused, kept, placed;
    EXPECT_EQ(
        files::Walk(t.Path("l"), {files::Kind::File, O_RDONLY, files::LastLink::Refuse}, refused),
        ELOOP);
    ASSERT_EQ(files::Walk(t.Path("l"), {files::Kind::File, O_RDONLY, files::LastLink::Keep}, kept),
              0);
    std::string target;
    EXPECT_EQ(files::ReadLink(kept.fd.get(), target), 0);
    EXPECT_EQ(target + " " + kept.name, "mine l");

    // Through a link to the folder: the new file's place is in the folder the link leads to.
    files::Request missing;
    missing.mayBeMissing = true;
    t.Link("root", "to-root", false);
    ASSERT_EQ(files::Walk(t.Path("to-root/new"), missing, placed), 0);
    EXPECT_FALSE(placed.fd.ok());
    EXPECT_EQ(placed.name, "new");
    files::UniqueFd created(
        ::openat(placed.folder.get(), "new", O_CREAT | O_EXCL | O_WRONLY, 0600));
    EXPECT_TRUE(FileExists(t.Path("root/new")));

    // No name, or a name a NUL cuts short, is no file at all, not the folder the walk starts in.
    files::Reached nothing;
    for (const std::string& bad : {std::string(), t.Path("mine") + std::string(1, '\0') + "x"}) {
        EXPECT_EQ(files::Walk(bad, missing, nothing), ENOENT);
        EXPECT_FALSE(nothing.folder.ok());
    }
}

TEST_F(PathWalk, MakesMissingFoldersAndTakesThemAwayAgain) {
    files::Request request;
    request.kind = files::Kind::Folder;
    request.makeFolders = true;
    request.folderMode = 0750;
    files::Reached reached;
    const mode_t mask = ::umask(077);
    ASSERT_EQ(files::Walk(t.Path("a/b/c"), request, reached), 0);
    ::umask(mask);
    ASSERT_EQ(reached.made.size(), 3u);
    EXPECT_EQ(reached.made.front().name, "a");
    EXPECT_EQ(StatOf(t.Path("a/b/c")).st_mode & 07777, 0700u) << "the mode less the umask";
    // A folder that is no longer empty stays; the empty ones go, innermost first.
    WriteFile(t.Path("a/kept"), "x");
    for (auto it = reached.made.rbegin(); it != reached.made.rend(); ++it) {
        files::RemoveMadeFolder(*it);
    }
    EXPECT_FALSE(FileExists(t.Path("a/b")));
    EXPECT_TRUE(FileExists(t.Path("a/kept")));
}

TEST_F(PathWalk, AnEntrySwappedForALinkOrFifoIsNeverOpened) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a second user";
    }
    // The other user swaps their file for a link to root's secret and for a FIFO as fast as
    // they can; a root walk must read their file or refuse, never the secret, never hang.
    const std::string name = t.Path("theirs/x");
    const pid_t swapper = StartChild(
        [&] {
            const std::string tmp = t.Path("theirs/x.tmp");
            for (int i = 0;; ++i) {
                if (i % 3 == 0) {
                    WriteFile(tmp, "theirs");
                } else if (i % 3 == 1) {
                    (void)!::symlink(t.Path("root/secret").c_str(), tmp.c_str());
                } else {
                    ::mkfifo(tmp.c_str(), 0666);
                }
                ::rename(tmp.c_str(), name.c_str());
            }
            return 0;
        },
        true);
    files::UniqueFd theirs(::open(t.Path("theirs").c_str(), O_RDONLY | O_DIRECTORY));
    int read = 0;
    ::alarm(30);
    for (int i = 0; i < 2000; ++i) {
        files::Reached reached;
        files::UniqueFd fd;
        struct stat st {};
        std::string byWalk = "theirs", byEntry = "theirs";
        if (files::Walk(name, {}, reached) == 0) {
            byWalk = Read(reached);
            ++read;
        }
        if (files::OpenEntry(theirs.get(), "x", files::Kind::File, O_RDONLY, fd, st) == 0) {
            files::ReadWhole(fd.get(), 100, byEntry);
        }
        // No ASSERT here: a failure must still stop the swapper.
        const std::string seen = byWalk + " " + byEntry;
        EXPECT_EQ(seen, "theirs theirs");
        if (seen != "theirs theirs") {
            break;
        }
    }
    ::alarm(0);
    ::kill(swapper, SIGKILL);
    WaitChild(swapper);
    EXPECT_GT(read, 0) << "the walk must still reach the file when it is there";
}

TEST(PrintableName, EscapesWhatCouldFakeOrReorderALine) {
    const std::pair<const char*, const char*> rows[] = {
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
    for (const auto& [name, shown] : rows) {
        EXPECT_EQ(PrintableName(name), shown) << shown;
    }
}

}  // namespace
}  // namespace tarnu::test
