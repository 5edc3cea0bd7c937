#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

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

// Keeps what the copy reports; cancels when a test asks it to.
class RecordingObserver : public posix::CopyObserver {
  public:
    void Progress(const posix::CopyProgress& progress) override {
        last = progress;
        cancel = cancel || (cancelWhen && cancelWhen(progress));
    }
    bool CancelRequested() override { return cancel; }
    void Failed(const posix::CopyFailure& failure) override { failures.push_back(failure); }

    std::function<bool(const posix::CopyProgress&)> cancelWhen;
    bool cancel = false;
    posix::CopyProgress last;
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

// Names, contents, modes and owners of everything below dir.
std::string State(const std::string& dir) {
    std::string all;
    for (const auto& entry : ReadTree(dir)) {
        const struct stat st = StatOf(dir + "/" + entry.path);
        all += entry.path + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) +
               " " + entry.data + "\n";
    }
    return all;
}

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// levels folders "d" inside one another below top.
void MakeDeep(const std::string& top, int levels) {
    std::string path = top;
    for (int i = 0; i < levels; ++i) {
        path += "/d";
    }
    std::filesystem::create_directories(path);
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
        const auto scratch = [&](const std::string& p) { return p.empty() ? p : dir.file(p); };
        request.pFrom = scratch(c.source) + '\0' + '\0';
        request.pTo = scratch(c.target) + '\0' + '\0';
        request.fFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;

        EXPECT_EQ(static_cast<std::uint32_t>(shell.SHFileOperationA(request)), c.status);
        EXPECT_FALSE(request.fAnyOperationsAborted);
        EXPECT_EQ(ReadTree(dir.path()), Tree{} + c.result);
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

// A scratch folder and a copy into it.
struct Scratch {
    // Copies the names below dir.
    CopyResult Copy(const std::string& from, const std::string& to) {
        return posix::CopyService(fault).Copy(dir.file(from), dir.file(to), observer);
    }
    // The new version in src and an older one, with a file of its own, in T/src.
    void OldAndNew() {
        MakeTree(dir.path(), {Folder("src"), File("src/a.txt", "new a"),
                              File("src/big.bin", std::string(kBig, 'n')), Folder("src/sub"),
                              File("src/sub/b.txt", "new b"), Folder("src/neu"),
                              File("src/neu/c.txt", "c"), File("src/z.txt", "new z"), Folder("T"),
                              Folder("T/src"), File("T/src/a.txt", "old a"), Folder("T/src/sub"),
                              File("T/src/sub/b.txt", "old b"), File("T/src/keep", "keep")});
        ::chmod(dir.file("T/src/a.txt").c_str(), 0604);
        engine::Engine().CreateDatabase(dir.file("src/KDL.mdb"));
        engine::Engine().CreateDatabase(dir.file("T/src/KDL.mdb"));
        ::chmod(dir.file("src/KDL.mdb").c_str(), 0644);
    }
    // T/src as OldAndNew's copy leaves it: the new version, with the old one's own file.
    Tree Updated() {
        return Moved(ReadTree(dir.path()), "src", "src") + Tree{File("src/keep", "keep")};
    }
    static constexpr std::size_t kBig = 9u << 20;  // more than one chunk

    TempDir dir;
    RecordingObserver observer;
    posix::FaultSeam fault;
    std::shared_ptr<void> keep;  // what an arrangement needs while the copy runs
};

class CopyService : public ::testing::Test, public Scratch {};

TEST(CopyServiceStops, AnyStopBeforeTheRenamesLeavesTheTargetAsItWas) {
    // A FIFO, socket or device among the files; its name is one a message must not show raw.
    const auto special = [](const std::string& name, mode_t type) {
        return [=](Scratch& t) {
            const std::string path = t.dir.file("src/sub/" + name);
            EXPECT_EQ(::mknod(path.c_str(), type | 0644, makedev(1, 3)), 0) << name;
        };
    };
    // Something the unprivileged runner may not read.
    const auto unreadable = [](const std::string& name, mode_t mode) {
        return [=](Scratch& t) {
            ::chmod(t.dir.file(name).c_str(), mode);
            GiveToUnprivilegedUser(t.dir.file("T"));
            OpenForUnprivilegedUser(t.dir.path());
        };
    };
    struct Case {
        const char* name;
        std::function<void(Scratch&)> arrange;
        int status;
        const char* says;  // "" for a cancel, which says nothing
        bool asRoot = false;
        bool asNobody = false;
        const char* from = "src";
    };
    const std::vector<Case> cases = {
        {"a FIFO among the files", special("evil\n\xff\xe2\x80\xae", S_IFIFO), status::kUnreadable,
         "evil\\x0A\\xFF\\xE2\\x80\\xAE“ ist eine Pipe (FIFO)"},
        {"a socket", special("sock", S_IFSOCK), status::kUnreadable, "sock“ ist ein Socket"},
        {"a device", special("null", S_IFCHR), status::kUnreadable, "null“ ist eine Gerätedatei",
         true},
        {"a file the runner may not read", unreadable("src/z.txt", 0600), status::kUnreadable,
         "z.txt“ kann nicht gelesen werden: Zugriff verweigert", true, true},
        {"a pattern in a folder the runner may only pass through", unreadable("src", 0711),
         status::kUnreadable, "src“ kann nicht gelesen werden: Zugriff verweigert", true, true,
         "src/*"},
        {"a write error",
         [](Scratch& t) {
             t.fault = [](posix::FaultPoint point, const std::string& path) {
                 return point == posix::FaultPoint::Write && path.ends_with("z.txt") ? ENOSPC : 0;
             };
         },
         status::kDestination, "z.txt“ kann nicht geschrieben werden: der Datenträger ist voll"},
        {"a cancel inside a file",
         [](Scratch& t) {
             t.observer.cancelWhen = [](const posix::CopyProgress& p) {
                 return p.currentFile.ends_with("big.bin") && p.bytesDone > 10;
             };
         },
         status::kCancelled, ""},
        {"a database another program holds",
         [](Scratch& t) { t.keep = std::make_shared<HoldingChild>(t.dir.file("T/src/KDL.mdb")); },
         status::kInUse, "KDL.mdb“ wird von einem anderen Programm verwendet"},
        {"one folder more than the limit",
         [](Scratch& t) { MakeDeep(t.dir.file("src/neu"), posix::kMaxFolderDepth - 1); },
         status::kTooDeep, "mehr als 256 Ordner ineinander"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.asRoot && ::geteuid() != 0) {
            continue;
        }
        Scratch t;
        t.OldAndNew();
        c.arrange(t);
        const std::string before = State(t.dir.file("T"));
        const auto copy = [&] {
            const CopyResult r = t.Copy(c.from, "T/");
            const bool says = *c.says == '\0' ? t.observer.failures.empty()
                                              : t.observer.failures.size() == 1 &&
                                                    Contains(t.observer.failures[0].text, c.says);
            return std::vector<std::int32_t>{r.status, r.aborted, says,
                                             static_cast<std::int32_t>(r.filesCopied)};
        };
        const std::vector<std::int32_t> outcome =
            c.asNobody ? RunInChild(copy, true).value_or(std::vector<std::int32_t>{}) : copy();
        EXPECT_EQ(outcome,
                  (std::vector<std::int32_t>{c.status, c.status == status::kCancelled, 1, 0}));
        EXPECT_EQ(State(t.dir.file("T")), before);
        EXPECT_TRUE(TempLeftovers(t.dir.file("T")).empty());
    }
}

TEST_F(CopyService, AStopWhileTheFilesTakeTheirNamesSaysWhichAreNew) {
    OldAndNew();
    fault = [](posix::FaultPoint point, const std::string& path) {
        return point == posix::FaultPoint::Rename && path.ends_with("sub/b.txt") ? EBUSY : 0;
    };
    const CopyResult stopped = Copy("src", "T/");
    EXPECT_EQ(stopped.status, status::kDestination);
    ASSERT_EQ(observer.failures.size(), 1u);
    const std::string& text = observer.failures[0].text;
    EXPECT_TRUE(Contains(text, "src/sub/b.txt“ konnte nicht ersetzt werden")) << text;
    EXPECT_TRUE(Contains(text, "Schon die neue Version haben: „" + dir.file("T/src/KDL.mdb") +
                                   "“, „" + dir.file("T/src/a.txt") + "“, „"))
        << text;
    EXPECT_EQ(stopped.filesCopied, 4u) << "KDL.mdb, a.txt, big.bin and neu/c.txt";
    EXPECT_EQ(ReadFile(dir.file("T/src/sub/b.txt")), "old b");
    EXPECT_EQ(ReadFile(dir.file("T/src/a.txt")), "new a");
    EXPECT_TRUE(TempLeftovers(dir.path()).empty());

    // The next run completes the update.
    fault = {};
    EXPECT_EQ(Copy("src", "T/").status, 0);
    EXPECT_EQ(ReadTree(dir.file("T")), Updated());
}

TEST_F(CopyService, ATargetFolderSwappedWhileTheFilesAreWrittenTakesNothingOfTheCopy) {
    OldAndNew();
    fault = [&](posix::FaultPoint, const std::string& path) {
        if (path.ends_with("src/a.txt")) {
            ::rename(dir.file("T/src/sub").c_str(), dir.file("T/sub.old").c_str());
            ::mkdir(dir.file("T/src/sub").c_str(), 0755);
        }
        return 0;
    };
    EXPECT_EQ(Copy("src", "T/").status, status::kDestination);
    ASSERT_EQ(observer.failures.size(), 1u);
    EXPECT_TRUE(Contains(observer.failures[0].text,
                         "src/sub“ kann nicht geschrieben werden: die "
                         "Datei wurde während des Kopierens ausgetauscht"))
        << observer.failures[0].text;
    EXPECT_TRUE(ReadTree(dir.file("T/src/sub")).empty());
    EXPECT_EQ(ReadFile(dir.file("T/sub.old/b.txt")), "old b");
}

TEST_F(CopyService, TwoRunsAtOnceTakeTurnsAndEachReplacesEverything) {
    OldAndNew();
    const auto copy = [&] { return Copy("src", "T/").status; };
    EXPECT_EQ(RunTogether({copy, copy}), (std::vector<int>{0, 0}));
    EXPECT_EQ(ReadTree(dir.file("T")), Updated());
    EXPECT_TRUE(TempLeftovers(dir.path()).empty());
    const CopyResult again = Copy("src", "T/");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.filesCopied, 6u);
    EXPECT_EQ(again.bytesCopied, observer.last.bytesTotal);
    EXPECT_EQ(observer.last.filesTotal, 6u);
}

TEST_F(CopyService, RemovesOnlyTheRunnersTemporariesOfRunsThatEnded) {
    OldAndNew();
    const std::string ours = dir.file("T/src/sub/.0123456789abcdef.tarnu-tmp");
    const std::string theirs = dir.file("T/src/sub/.fedcba9876543210.tarnu-tmp");
    WriteFile(ours, "left by a killed run");
    WriteFile(theirs, "another user's");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    // Another run works in T/src/sub: it holds that folder's lock.
    const int lock = ::open(dir.file("T/src/sub").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    ASSERT_EQ(Copy("src", "T/").status, 0);
    EXPECT_EQ(TempLeftovers(dir.path()).size(), 2u);
    ::close(lock);
    ASSERT_EQ(Copy("src", "T/").status, 0);
    EXPECT_EQ(TempLeftovers(dir.path()),
              std::vector<std::string>{"T/src/sub/" + theirs.substr(theirs.rfind('/') + 1)});
}

TEST_F(CopyService, CopiesAreTheRunnersWithTheSourcesBitsLessSetuidAndTheUmask) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of another user need root";
    }
    // A set-group-ID target folder of the Tarnu users' group, which the copies inherit.
    MakeTree(dir.path(), {Folder("src"), File("src/tool", "t"), File("src/grp", "g"),
                          File("src/data.ini", "new"), Folder("src/sub"), Folder("src/ro"),
                          File("src/ro/f", "f"), Folder("T"), File("T/data.ini", "planted")});
    struct Bits {
        const char* path;
        mode_t source;
        mode_t copy;
    };
    const std::vector<Bits> bits = {
        {"tool", 04755, 0750}, {"grp", 02750, 0750}, {"data.ini", 0640, 0640},
        {"sub", 0750, 02750},  {"ro/f", 0444, 0440}, {"ro", 0555, 02550},
    };
    for (const Bits& b : bits) {
        ASSERT_EQ(::chmod(dir.file("src/" + std::string(b.path)).c_str(), b.source), 0);
    }
    ASSERT_EQ(::chown(dir.file("src/tool").c_str(), 65534, 65534), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {978307200, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("src/tool").c_str(), times, 0), 0);
    ASSERT_EQ(::chown(dir.file("T").c_str(), 0, 65534), 0);
    ASSERT_EQ(::chmod(dir.file("T").c_str(), 02775), 0);
    // Planted by a user: the copy must not become theirs.
    ASSERT_EQ(::chown(dir.file("T/data.ini").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.file("T/data.ini").c_str(), 0666), 0);

    const mode_t mask = ::umask(027);
    const int copied = Copy("src/*", "T/").status;
    ::umask(mask);
    ASSERT_EQ(copied, 0);
    for (const Bits& b : bits) {
        const struct stat st = StatOf(dir.file("T/" + std::string(b.path)));
        EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
                  std::make_tuple(b.copy, 0u, 65534u))
            << b.path;
    }
    const struct stat st = StatOf(dir.file("T/tool"));
    EXPECT_EQ(std::make_pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
              std::make_pair(time_t{978307200}, 5L));
}

TEST_F(CopyService, OtherUsersLinksLeadARootCopyNowhere) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "links of another user need root";
    }
    // A share the users fill, and root's own folders beside it.
    MakeTree(dir.path(),
             {Folder("src"), File("src/a.txt", "a"), Folder("share"), Folder("rootonly"),
              File("secret", "geheim"), Link("share/ziel", "../rootonly"),
              Link("share/quelle", "../secret"), Link("theirs", "rootonly")});
    ASSERT_EQ(::chown(dir.file("share").c_str(), 65534, 65534), 0);
    for (const char* link : {"share/ziel", "share/quelle", "theirs"}) {
        ASSERT_EQ(::lchown(dir.file(link).c_str(), 65534, 65534), 0);
    }
    for (const auto& [from, to, code] : std::vector<std::tuple<const char*, const char*, int>>{
             {"src/a.txt", "share/ziel/neu/", status::kDestination},
             {"src/a.txt", "theirs", status::kDestination},
             {"share/quelle", "T/", status::kUnreadable},
         }) {
        observer.failures.clear();
        EXPECT_EQ(Copy(from, to).status, code) << from << " " << to;
        ASSERT_EQ(observer.failures.size(), 1u);
        EXPECT_TRUE(Contains(observer.failures[0].text, "Verknüpfung"))
            << observer.failures[0].text;
    }
    EXPECT_TRUE(ReadTree(dir.file("rootonly")).empty());
    EXPECT_FALSE(FileExists(dir.file("T")));
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
    EXPECT_EQ(ReadTree(dir.file("T")), ReadTree(dir.file("src")));

    // "?" is one character, also when it takes two bytes.
    ASSERT_EQ(Copy("src/?-umlaut", "U/").status, 0);
    EXPECT_EQ(ReadTree(dir.file("U")), (Tree{File("\xc3\xa4-umlaut", "\xc3\xa4-umlaut")}));

    // As deep as the copy goes: the top folder and kMaxFolderDepth - 1 below it.
    MakeDeep(dir.file("src/loop"), posix::kMaxFolderDepth - 1);
    ASSERT_EQ(Copy("src/loop", "W").status, 0);
    EXPECT_EQ(ReadTree(dir.file("W")), ReadTree(dir.file("src/loop")));
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
             {FO_COPY, a + '\0', t, 0},  // without the closing empty item
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
}

}  // namespace
}  // namespace tarnu::test
