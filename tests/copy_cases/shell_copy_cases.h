#pragma once

// How the shell's copy treats one source item and one target: as data, so that every
// implementation runs the same cases (the Linux copy service here, a Windows build against
// SHFileOperationA later). Plain C++ only: no system header.
//
// A runner gives each case a fresh, empty scratch folder, makes it the current folder, builds
// `setup` in it, and copies `source` to `target` with no confirmations and target folders made
// without asking. Paths are relative to the scratch folder and written with "/"; the runner
// puts the scratch folder in front (an empty source or target stays empty) and converts the
// separators. Then it compares the status and the whole content of the scratch folder with
// `result`, and for a failure looks for `named` in the error message where it has one.
//
// `wine` holds what Wine's SHFileOperationA does where it differs from the rule of the case,
// and why the rule stands: the Linux copy service follows the rule, the runner on Wine expects
// Wine's outcome, so that a change on either side shows. Wine shows no error message of its
// own, so `named` is for the Linux service only.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnu::copycases {

// The shell's numbers.
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kNoSource = 0x402;
constexpr std::uint32_t kCancelled = 0x4C7;
constexpr std::uint32_t kSameFile = 0x71;
constexpr std::uint32_t kIntoItself = 0x76;
constexpr std::uint32_t kOntoFile = 0x7E;
constexpr std::uint32_t kOntoFolder = 0x80;

enum class Kind { File, Folder, Link };

struct Entry {
    Kind kind;
    std::string path;
    std::string data;  // a file's bytes or a link's target

    bool operator==(const Entry&) const = default;
    bool operator<(const Entry& other) const { return path < other.path; }
};
using Tree = std::vector<Entry>;

// How a failed comparison shows an entry: a byte outside printable ASCII as \xNN, so that odd
// names neither break the report nor hide their bytes.
inline void PrintTo(const Entry& entry, std::ostream* out) {
    const auto show = [out](const std::string& text) {
        for (const unsigned char c : text) {
            if (c < 0x20 || c > 0x7E) {
                *out << "\\x"
                     << "0123456789ABCDEF"[c / 16] << "0123456789ABCDEF"[c % 16];
            } else {
                *out << c;
            }
        }
    };
    static const char* const kinds[] = {"file", "folder", "link"};
    *out << kinds[static_cast<int>(entry.kind)] << ' ';
    show(entry.path);
    if (entry.kind != Kind::Folder) {
        *out << " [";
        show(entry.data);
        *out << ']';
    }
}

// Wine's outcome of a case where it differs: the status, whether it set the aborted flag, what
// the scratch folder holds afterwards (none: what the setup made, nothing copied), and why the
// case's rule is kept all the same.
struct WineOutcome {
    std::uint32_t status = kOk;
    bool aborted = false;
    std::optional<Tree> result;
    std::string why;
};

struct Case {
    std::string name;
    Tree setup;
    std::string source;
    std::string target;
    std::uint32_t status;
    Tree result;             // everything in the scratch folder afterwards, in any order
    std::string named = {};  // part of the path the error message names
    std::optional<WineOutcome> wine = {};  // none where Wine agrees
};

inline Entry File(std::string path, std::string data) {
    return {Kind::File, std::move(path), std::move(data)};
}
inline Entry Folder(std::string path) {
    return {Kind::Folder, std::move(path), {}};
}
inline Entry Link(std::string path, std::string target) {
    return {Kind::Link, std::move(path), std::move(target)};
}

inline Tree operator+(Tree a, const Tree& b) {
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    return a;
}

inline Tree Without(Tree tree, const std::string& path) {
    std::erase_if(tree, [&](const Entry& e) { return e.path == path; });
    return tree;
}

// The entries below `from`, moved below `to` (an empty `to`: to the top); with `to` itself as
// a folder when withFolder.
inline Tree Moved(const Tree& tree, const std::string& from, const std::string& to,
                  bool withFolder = true) {
    Tree out;
    if (withFolder) {
        out.push_back(Folder(to));
    }
    for (const Entry& e : tree) {
        if (e.path.rfind(from + "/", 0) == 0) {
            const std::string below = e.path.substr(from.size() + 1);
            out.push_back({e.kind, to.empty() ? below : to + "/" + below, e.data});
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A source folder with a file, a file without a dot, a dot file, a subfolder and an empty
// folder, and a file beside it.
inline Tree Base() {
    Tree tree{Folder("src"),          File("src/a.txt", "a"),
              File("src/noext", "n"), File("src/.hidden", "h"),
              Folder("src/sub"),      File("src/sub/b.txt", "b"),
              Folder("src/empty"),    File("file.txt", "f")};
    std::sort(tree.begin(), tree.end());
    return tree;
}

inline Tree CopyOfSrc(const std::string& to) {
    return Moved(Base(), "src", to);
}

// The reasons Wine's outcome is not followed.
inline const char* const kSound = "Wine misbehaves here; the sound rule stands";
inline const char* const kSuccessForNothing =
    "Wine reports a success although nothing was copied; a failure is reported as one";
inline const char* const kFileIntoMissingFolder =
    "Wine fails to copy a file into a missing separator-ended folder, the kind of target the "
    "folder picker gives";

// Wine copies nothing and reports status, with the aborted flag where it cancels.
inline WineOutcome WineNothing(std::uint32_t status, const char* why) {
    return {status, status == kCancelled, std::nullopt, why};
}
// Wine ends with result, reporting status.
inline WineOutcome WineLeaves(std::uint32_t status, Tree result, const char* why) {
    std::sort(result.begin(), result.end());
    return {status, status == kCancelled, std::move(result), why};
}

inline std::vector<Case> ShellCopyCases() {
    const Tree base = Base();
    const Tree one = {Folder("one"), File("one/x.txt", "x")};
    const Tree withT = base + Tree{Folder("T")};
    const Tree fileInTheWay = {Folder("one"), Folder("one/sub"), File("one/sub/b", "b"),
                               Folder("T"), Folder("T/one")};
    const Tree withLinks = base + Tree{Link("src/la", "a.txt"), Link("src/ls", "sub"),
                                       Link("src/dangling", "nowhere")};
    return {
        // What the target means.
        {"file to a new name", base, "src/a.txt", "T", kOk, base + Tree{File("T", "a")}},
        {"file to a missing folder named with a separator", base, "src/a.txt", "T/", kOk,
         base + Tree{Folder("T"), File("T/a.txt", "a")}, "",
         WineLeaves(kCancelled, withT, kFileIntoMissingFolder)},
        {"file to a new name below missing folders", base, "src/a.txt", "X/Y/T", kOk,
         base + Tree{Folder("X"), Folder("X/Y"), File("X/Y/T", "a")}},
        {"file into an existing folder", base + Tree{Folder("T")}, "src/a.txt", "T", kOk,
         base + Tree{Folder("T"), File("T/a.txt", "a")}},
        {"file replaces a file", base, "src/a.txt", "file.txt", kOk,
         Without(base, "file.txt") + Tree{File("file.txt", "a")}},
        {"folder to a new name", base, "src", "T", kOk, base + CopyOfSrc("T")},
        {"folder to a new name below missing folders", base, "src", "X/Y/T", kOk,
         base + Tree{Folder("X"), Folder("X/Y")} + CopyOfSrc("X/Y/T")},
        {"folder into a separator-ended target", base, "src", "T/", kOk,
         base + Tree{Folder("T")} + CopyOfSrc("T/src")},
        {"folder onto its earlier copy lands inside it", base + CopyOfSrc("T"), "src", "T", kOk,
         base + CopyOfSrc("T") + CopyOfSrc("T/src")},
        {"folder merges into an earlier copy: files replaced, others stay",
         base + Tree{Folder("T"), Folder("T/src"), Folder("T/src/sub"), File("T/src/a.txt", "old"),
                     File("T/src/keep", "keep"), File("T/src/sub/b.txt", "old")},
         "src", "T/", kOk,
         base + Tree{Folder("T"), File("T/src/keep", "keep")} + CopyOfSrc("T/src")},
        {"separators in a row count as one", base, "src", "T//X///", kOk,
         base + Tree{Folder("T"), Folder("T/X")} + CopyOfSrc("T/X/src")},
        {"empty target is the current folder", base, "src/a.txt", "", kOk,
         base + Tree{File("a.txt", "a")}},

        // Patterns.
        {"pattern into a new folder, dot names included", base, "src/*", "T", kOk,
         base + CopyOfSrc("T")},
        {"pattern into a separator-ended target", base, "src/*", "T/", kOk, base + CopyOfSrc("T")},
        {"*.* matches names without a dot too", base, "src/*.*", "T/", kOk, base + CopyOfSrc("T")},
        {"pattern takes matching names only", base + Tree{Folder("T")}, "src/*.txt", "T", kOk,
         base + Tree{Folder("T"), File("T/a.txt", "a")}},
        {"pattern to a missing name makes a folder", base, "src/*.txt", "T", kOk,
         base + Tree{Folder("T"), File("T/a.txt", "a")}, "",
         WineLeaves(kOk, base + Tree{File("T", "a")},
                    "Wine copies the one match to a file named T, and would fail on a second; "
                    "a pattern's matches always go into a folder")},
        {"? matches exactly one character", base + Tree{File("src/ab.txt", "ab")}, "src/?.txt",
         "T/", kOk, base + Tree{File("src/ab.txt", "ab"), Folder("T"), File("T/a.txt", "a")}, "",
         WineLeaves(kCancelled, withT + Tree{File("src/ab.txt", "ab")}, kFileIntoMissingFolder)},
        {"pattern that matches nothing copies nothing", base, "src/*.xyz", "T/", kOk, base},
        {"separator at the end of the source stands for its content", base, "src/", "T/", kOk,
         base + CopyOfSrc("T")},

        // Missing sources.
        {"missing source", base, "nothing", "T/", kNoSource, base, "nothing"},
        {"empty source", base, "", "T/", kNoSource, base, "",
         WineNothing(kAccessDenied,
                     "Wine reports access denied; an empty source is a missing one")},
        {"pattern in a missing folder", base, "nofolder/*", "T/", kNoSource, base, "nofolder",
         WineNothing(kOk, kSuccessForNothing)},
        {"pattern below a file", base, "file.txt/*", "T/", kNoSource, base, "file.txt",
         WineNothing(kOk, kSuccessForNothing)},
        {"names are case-sensitive", base, "src/A.TXT", "T/", kNoSource, base, "A.TXT",
         WineLeaves(kCancelled, withT,
                    "Windows names ignore case, Linux names do not; Wine then fails as for a "
                    "file into a missing separator-ended folder")},

        // A source that is its own destination, or would land inside itself.
        {"file onto itself", base, "src/a.txt", "src/a.txt", kSameFile, base, "src/a.txt"},
        {"file into its own folder", base, "src/a.txt", "src/", kSameFile, base, "src/a.txt",
         WineNothing(kOk, kSuccessForNothing)},
        {"folder into the folder it lies in", base, "src", ".", kSameFile, base, "src",
         WineNothing(kOk, kSuccessForNothing)},
        {"pattern into its own folder", base, "src/*", "src", kSameFile, base, "src",
         WineNothing(kOk, kSuccessForNothing)},
        {"folder onto itself lands inside itself", base, "src", "src", kIntoItself, base, "src",
         WineNothing(kOk, kSound)},
        {"folder into its subfolder", base, "src", "src/sub", kIntoItself, base, "src",
         WineNothing(kOk, kSound)},
        {"folder into a new folder below itself", base, "src", "src/new/", kIntoItself, base, "src",
         WineLeaves(
             kOk,
             base + Tree{Folder("src/new"), Folder("src/new/src"), File("src/new/src/.hidden", "h"),
                         File("src/new/src/a.txt", "a"), Folder("src/new/src/empty")},
             "Wine makes src/new and copies part of src into it, then stops without a "
             "word")},

        // Files and folders in each other's way.
        {"folder onto a file", base, "src", "file.txt", kOntoFile, base, "file.txt",
         WineNothing(kOk, kSound)},
        {"pattern onto a file", base, "src/*", "file.txt", kOntoFile, base, "file.txt",
         WineNothing(kCancelled, kSound)},
        {"file to a separator-ended name of a file", base, "src/a.txt", "file.txt/", kOntoFile,
         base, "file.txt", WineNothing(kCancelled, kSound)},
        {"folder to a separator-ended name of a file", base, "src", "file.txt/", kOntoFile, base,
         "file.txt", WineNothing(kOk, kSound)},
        {"folder onto a file inside the target", fileInTheWay + Tree{File("T/one/sub", "f")}, "one",
         "T/", kOntoFile, fileInTheWay + Tree{File("T/one/sub", "f")}, "T/one/sub",
         WineLeaves(kOk, fileInTheWay + Tree{File("T/one/sub", "b")},
                    "Wine writes the data of one/sub/b into the file T/one/sub and reports "
                    "success")},
        {"file onto a folder inside the target",
         one + Tree{Folder("T"), Folder("T/one"), Folder("T/one/x.txt")}, "one", "T/", kOntoFolder,
         one + Tree{Folder("T"), Folder("T/one"), Folder("T/one/x.txt")}, "T/one/x.txt",
         WineNothing(kOk, kSuccessForNothing)},
        {"file onto a folder at the top of the target", base + Tree{Folder("T"), Folder("T/a.txt")},
         "src/a.txt", "T/", kOntoFolder, base + Tree{Folder("T"), Folder("T/a.txt")}, "T/a.txt",
         WineNothing(kOk, kSuccessForNothing)},

        // Links.
        {"links in the source are made again, never followed", withLinks, "src", "T/", kOk,
         withLinks +
             Tree{Folder("T"), Link("T/src/la", "a.txt"), Link("T/src/ls", "sub"),
                  Link("T/src/dangling", "nowhere")} +
             CopyOfSrc("T/src"),
         "",
         WineLeaves(kOk,
                    withLinks +
                        Tree{Folder("T"), File("T/src/la", "a"), Folder("T/src/ls"),
                             File("T/src/ls/b.txt", "b")} +
                        CopyOfSrc("T/src"),
                    "Wine copies what the links lead to and leaves out the dangling one; links "
                    "are a Linux matter")},
        {"link at a destination file's name is replaced, not written through",
         base + Tree{Folder("T"), Link("T/a.txt", "../file.txt")}, "src/a.txt", "T/", kOk,
         base + Tree{Folder("T"), File("T/a.txt", "a")}, "",
         WineLeaves(kOk,
                    Without(base, "file.txt") +
                        Tree{File("file.txt", "a"), Folder("T"), Link("T/a.txt", "../file.txt")},
                    "Wine writes through the link into file.txt, outside the target")},
        {"link where a folder is to be merged",
         one + Tree{Folder("elsewhere"), Folder("T"), Link("T/one", "../elsewhere")}, "one", "T/",
         kOntoFolder, one + Tree{Folder("elsewhere"), Folder("T"), Link("T/one", "../elsewhere")},
         "T/one",
         WineLeaves(kOk,
                    one + Tree{Folder("elsewhere"), File("elsewhere/x.txt", "x"), Folder("T"),
                               Link("T/one", "../elsewhere")},
                    "Wine merges through the link into elsewhere, outside the target")},
        {"source named through a link is followed", base + Tree{Link("lnk", "src")}, "lnk", "T/",
         kOk, base + Tree{Link("lnk", "src"), Folder("T")} + CopyOfSrc("T/lnk")},
        {"target named through a link is followed", base + Tree{Folder("dest"), Link("tl", "dest")},
         "src/a.txt", "tl", kOk,
         base + Tree{Folder("dest"), Link("tl", "dest"), File("dest/a.txt", "a")}},
    };
}

}  // namespace tarnu::copycases
