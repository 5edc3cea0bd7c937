#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>
#include <utility>

#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/copy_service.h"
#include "platform/linux/posix/posix_shell.h"
#include "tests/copy_cases/shell_copy_cases.h"
#include "tests/copy_cases/tree_files.h"
#include "tests/support/child_process.h"
#include "tests/support/holding_child.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

using copycases::File;
using copycases::Folder;
using copycases::Link;
using copycases::MakeTree;
using copycases::Moved;
using copycases::ReadTree;
using copycases::Tree;
using posix::CopyResult;
namespace status = posix::copy_status;

// Keeps what the copy reports; cancels or acts when a test asks it to.
class RecordingObserver : public posix::CopyObserver {
  public:
    void Progress(const posix::CopyProgress& progress) override {
        if (progressCalls++ == 0) {
            first = progress;
        }
        last = progress;
        if (onProgress) {
            onProgress(progress);
        }
    }
    bool CancelRequested() override { return cancel; }
    void Failed(const posix::CopyFailure& failure) override { failures.push_back(failure); }

    std::function<void(const posix::CopyProgress&)> onProgress;
    bool cancel = false;
    int progressCalls = 0;
    posix::CopyProgress first, last;
    std::vector<posix::CopyFailure> failures;
};

// The temporary files of a copy anywhere below dir.
std::vector<std::string> TempLeftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& entry : ReadTree(dir)) {
        if (posix::IsCopyTempName(std::filesystem::path(entry.path).filename().string())) {
            found.push_back(entry.path);
        }
    }
    return found;
}

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// A small file, a file of several chunks and another small file, copied in this order.
struct ThreeFiles {
    explicit ThreeFiles(const TempDir& dir) {
        MakeTree(dir.path(),
                 {Folder("src"), File("src/a.txt", "first"),
                  File("src/big.bin", std::string(kBig, 'x')), File("src/z.txt", "last")});
    }
    static constexpr std::size_t kBig = 9u << 20;  // more than one chunk
};

std::string InScratch(const TempDir& dir, const std::string& path) {
    return path.empty() ? path : dir.path() + "/" + path;
}

TEST(ShellCopyRules, EveryCaseGivesItsStatusAndTree) {
    for (const copycases::Case& c : copycases::ShellCopyCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedCurrentDir inScratch(dir.path());
        MakeTree(dir.path(), c.setup);

        RecordingObserver observer;
        posix::PosixShell shell(observer);
        SHFILEOPSTRUCTA request;
        request.wFunc = FO_COPY;
        request.pFrom = InScratch(dir, c.source) + '\0' + '\0';
        request.pTo = InScratch(dir, c.target) + '\0' + '\0';
        request.fFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;

        EXPECT_EQ(static_cast<std::uint32_t>(shell.SHFileOperationA(request)), c.status);
        EXPECT_FALSE(request.fAnyOperationsAborted);
        copycases::Tree expected = c.result;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ReadTree(dir.path()), expected);
        if (c.status == copycases::kOk) {
            EXPECT_TRUE(observer.failures.empty());
            continue;
        }
        ASSERT_EQ(observer.failures.size(), 1u) << "every failure is reported once";
        EXPECT_EQ(static_cast<std::uint32_t>(observer.failures[0].status), c.status);
        EXPECT_NE(observer.failures[0].text.find(c.named), std::string::npos)
            << observer.failures[0].text;
    }
}

class CopyService : public ::testing::Test {
  protected:
    // Copies the names below dir.
    CopyResult Copy(const std::string& from, const std::string& to) {
        return posix::CopyService().Copy(dir.file(from), dir.file(to), observer);
    }

    TempDir dir;
    RecordingObserver observer;
};

TEST_F(CopyService, CancelInsideAFileStopsAtOnceAndLeavesNoPartialFile) {
    ThreeFiles files(dir);
    ASSERT_EQ(::chmod(dir.file("src").c_str(), 0555), 0);  // our copy must stay writable a while
    observer.onProgress = [&](const posix::CopyProgress& p) {
        // After the first chunk of the big file.
        observer.cancel = p.currentFile.ends_with("big.bin") && p.bytesDone > 5;
    };
    const CopyResult result = Copy("src", "T/");

    EXPECT_EQ(result.status, status::kCancelled);
    EXPECT_TRUE(result.aborted);
    EXPECT_TRUE(observer.failures.empty()) << "a cancel shows no error";
    EXPECT_EQ(ReadTree(dir.file("T")), (Tree{Folder("src"), File("src/a.txt", "first")}));
    EXPECT_EQ(StatOf(dir.file("T/src")).st_mode & 07777, 0555u)
        << "a cancel leaves the folder with its own bits";
    EXPECT_LT(observer.last.bytesDone, 5 + ThreeFiles::kBig) << "the big file was not finished";
    EXPECT_EQ(observer.first.bytesTotal, 9 + ThreeFiles::kBig) << "totals come before the copy";
    EXPECT_EQ(observer.first.filesTotal, 3u);
}

TEST_F(CopyService, KilledCopyLeavesOnlyATempFileWhichTheNextCopyRemoves) {
    ThreeFiles files(dir);
    const pid_t child = StartChild([&] {
        observer.onProgress = [](const posix::CopyProgress& p) {
            if (p.currentFile.ends_with("big.bin") && p.bytesDone > 5) {
                ::raise(SIGKILL);
            }
        };
        Copy("src", "T/");
        return 0;
    });
    ASSERT_EQ(WaitChild(child), -1);
    EXPECT_EQ(TempLeftovers(dir.file("T")).size(), 1u);
    EXPECT_FALSE(FileExists(dir.file("T/src/big.bin"))) << "never a partial file under its name";

    // The next copy replaces the earlier copies, keeps what else is there and cleans up.
    WriteFile(dir.file("src/a.txt"), "changed");
    WriteFile(dir.file("T/src/other"), "stays");
    const CopyResult result = Copy("src", "T/");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.filesCopied, 3u);
    EXPECT_EQ(ReadTree(dir.file("T")),
              Moved(ReadTree(dir.path()), "src", "src") + Tree{File("src/other", "stays")});
    EXPECT_TRUE(TempLeftovers(dir.path()).empty());
    EXPECT_EQ(observer.last.bytesDone, observer.last.bytesTotal);
    EXPECT_EQ(observer.last.filesDone, 3u);
}

TEST_F(CopyService, LeavesFilesThatAnotherProcessHoldsOpen) {
    MakeTree(dir.path(), {Folder("src"), File("src/KDL.mdb", "new program"), Folder("T")});
    engine::Engine().CreateDatabase(dir.file("T/KDL.mdb"));
    const std::string before = ReadFile(dir.file("T/KDL.mdb"));
    HoldingChild holder(dir.file("T/KDL.mdb"));
    ASSERT_EQ(holder.openResult(), 0);

    CopyResult result = Copy("src/KDL.mdb", "T/");
    EXPECT_EQ(result.status, status::kInUse);
    EXPECT_EQ(ReadFile(dir.file("T/KDL.mdb")), before);
    ASSERT_EQ(observer.failures.size(), 1u);
    EXPECT_TRUE(Contains(observer.failures[0].text, "KDL.mdb")) << observer.failures[0].text;
    EXPECT_TRUE(TempLeftovers(dir.path()).empty());

    holder.Kill();
    result = Copy("src/KDL.mdb", "T/");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(dir.file("T/KDL.mdb")), "new program");
}

TEST_F(CopyService, ReadOnlyTargetFolderIsADestinationError) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    MakeTree(dir.path(), {Folder("src"), File("src/a.txt", "a"), Folder("T")});
    ASSERT_EQ(::chmod(dir.file("T").c_str(), 0555), 0);

    // Root may write anywhere: the copy runs as an ordinary user.
    const auto outcome = RunInChild(
        [&] {
            const CopyResult result = Copy("src", "T/");
            const bool named = observer.failures.size() == 1 &&
                               Contains(observer.failures[0].text, "T/src") &&
                               Contains(observer.failures[0].text, "Zugriff verweigert");
            return std::vector<std::int32_t>{result.status, named ? 1 : 0};
        },
        true);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(*outcome, (std::vector<std::int32_t>{status::kDestination, 1}));
    EXPECT_TRUE(ReadTree(dir.file("T")).empty());
}

TEST_F(CopyService, PipesSocketsAndDevicesInTheSourceStopTheCopy) {
    struct Special {
        std::string name;
        std::function<bool(const std::string&)> make;
        std::string kind;
    };
    const std::vector<Special> specials = {
        {"pipe", [](const std::string& p) { return ::mkfifo(p.c_str(), 0644) == 0; }, "Pipe"},
        {"sock",
         [](const std::string& p) {
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
             ::close(fd);
             return ok;
         },
         "Socket"},
        {"null",
         [](const std::string& p) {
             return ::geteuid() == 0 && ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
         },
         "Gerätedatei"},
    };
    for (const Special& special : specials) {
        SCOPED_TRACE(special.name);
        const std::string src = "src-" + special.name;
        MakeTree(dir.path(), {Folder(src), File(src + "/a.txt", "a"), File(src + "/z.txt", "z")});
        if (!special.make(dir.file(src + "/" + special.name))) {
            continue;  // a device needs root
        }
        for (const std::string& source : {src, src + "/" + special.name}) {
            observer.failures.clear();
            EXPECT_EQ(Copy(source, "T-" + special.name + "/").status, status::kUnreadable);
            ASSERT_EQ(observer.failures.size(), 1u);
            EXPECT_TRUE(Contains(observer.failures[0].text, special.name + "“ ist"));
            EXPECT_TRUE(Contains(observer.failures[0].text, special.kind));
        }
        EXPECT_EQ(ReadTree(dir.file("T-" + special.name)),
                  (Tree{Folder(src), File(src + "/a.txt", "a")}))
            << "what came before stays, nothing after it is copied";
    }
}

TEST_F(CopyService, PermissionBitsOwnersAndTimes) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of another user need root";
    }
    MakeTree(dir.path(), {Folder("src"), File("src/tool", "t"), File("src/grp", "g"),
                          File("src/data.ini", "new"), Folder("src/sub"), Folder("T"),
                          Folder("T/src"), File("T/src/data.ini", "old"), Folder("elsewhere")});
    const std::string tool = dir.file("src/tool");
    ASSERT_EQ(::chown(tool.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(tool.c_str(), 04755), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {978307200, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tool.c_str(), times, 0), 0);
    ASSERT_EQ(::chmod(dir.file("src/grp").c_str(), 02750), 0);
    ASSERT_EQ(::chmod(dir.file("src/data.ini").c_str(), 0640), 0);
    ASSERT_EQ(::chmod(dir.file("src/sub").c_str(), 0750), 0);
    ASSERT_EQ(::chmod(dir.file("T/src").c_str(), 0700), 0);
    ASSERT_EQ(::chown(dir.file("T/src/data.ini").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.file("T/src/data.ini").c_str(), 0600), 0);

    ASSERT_EQ(Copy("src", "T/").status, 0);
    struct Expected {
        std::string path;
        mode_t mode;
        uid_t owner;
    };
    for (const Expected& e : std::vector<Expected>{{"T/src/tool", 0755, 0},
                                                   {"T/src/grp", 0750, 0},
                                                   {"T/src/data.ini", 0640, 65534},
                                                   {"T/src/sub", 0750, 0},
                                                   {"T/src", 0700, 0}}) {
        // A replaced file keeps its owner and group, a new one is ours.
        const struct stat st = StatOf(dir.file(e.path));
        EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
                  std::make_tuple(e.mode, e.owner, e.owner))
            << e.path;
    }
    const struct stat st = StatOf(dir.file("T/src/tool"));
    EXPECT_EQ(std::make_pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
              std::make_pair(time_t{978307200}, 5L));

    // Another user's link in root's folder does not lead the copy anywhere.
    ASSERT_EQ(::symlink("elsewhere", dir.file("theirs").c_str()), 0);
    ASSERT_EQ(::lchown(dir.file("theirs").c_str(), 65534, 65534), 0);
    EXPECT_EQ(Copy("src/grp", "theirs").status, status::kDestination);
    ASSERT_FALSE(observer.failures.empty());
    EXPECT_TRUE(Contains(observer.failures.back().text, "Verknüpfung"));
    EXPECT_TRUE(ReadTree(dir.file("elsewhere")).empty());
}

TEST_F(CopyService, NamesAreBytesAndMessagesShowThemHarmlessly) {
    const std::vector<std::string> names = {"line\nbreak", "bad\xff\xfe", " lead",
                                            "-dash",       "tab\tname",   "\xc3\xa4-umlaut"};
    // Links, loops among them, are copied as links.
    MakeTree(dir.path(),
             {Folder("src"), Folder("src/line\nfolder"), Folder("src/loop"),
              Link("src/loop/self", "."), Link("src/loop/up", ".."), Link("src/me", "me")});
    for (const std::string& name : names) {
        MakeTree(dir.path(), {File("src/" + name, name), File("src/line\nfolder/" + name, name)});
    }
    ASSERT_EQ(Copy("src", "T").status, 0);
    EXPECT_EQ(ReadTree(dir.file("T")), Moved(ReadTree(dir.path()), "src", "", false));

    // "?" is one character, also when it takes two bytes.
    ASSERT_EQ(Copy("src/?-umlaut", "U/").status, 0);
    EXPECT_EQ(ReadTree(dir.file("U")), (Tree{File("\xc3\xa4-umlaut", "\xc3\xa4-umlaut")}));

    ASSERT_EQ(::mkfifo(dir.file("src/evil\n\xff").c_str(), 0644), 0);
    EXPECT_EQ(Copy("src/evil\n\xff", "V/").status, status::kUnreadable);
    ASSERT_EQ(observer.failures.size(), 1u);
    EXPECT_TRUE(Contains(observer.failures[0].text, "evil\\x0A\\xFF"));
    EXPECT_FALSE(Contains(observer.failures[0].text, "\n"));
}

TEST(PosixShell, CarriesOutOneCopyAndRefusesEverythingElse) {
    TempDir dir;
    MakeTree(dir.path(), {File("a", "a"), File("b", "b")});
    struct Request {
        std::uint32_t func;
        std::string from, to;
        int status;
    };
    const std::string a = dir.file("a"), b = dir.file("b"), t = dir.file("T/");
    for (const Request& r : std::vector<Request>{
             {1, a + '\0' + '\0', t + '\0' + '\0', status::kBadRequest},  // a move
             {FO_COPY, a + '\0' + b + '\0' + '\0', t + '\0' + '\0', status::kBadRequest},
             {FO_COPY, a + '\0' + '\0', t + '\0' + dir.file("U/") + '\0' + '\0',
              status::kBadRequest},
             {FO_COPY, a, t, 0},  // without the closing empty item
         }) {
        RecordingObserver observer;
        posix::PosixShell shell(observer);
        SHFILEOPSTRUCTA request;
        request.wFunc = r.func;
        request.pFrom = r.from;
        request.pTo = r.to;
        EXPECT_EQ(shell.SHFileOperationA(request), r.status);
        EXPECT_EQ(observer.failures.size(), r.status == 0 ? 0u : 1u);
        EXPECT_EQ(FileExists(dir.file("T/a")), r.status == 0) << "a refused request copies nothing";
    }
    EXPECT_EQ(posix::SplitNulList(std::string("x\0y\0\0z", 6)),
              (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(posix::SplitNulList(std::string("\0\0", 2)).empty());
}

}  // namespace
}  // namespace tarnu::test
