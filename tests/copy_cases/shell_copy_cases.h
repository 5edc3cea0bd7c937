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
    static const char* const kinds[] = {"file ", "folder ", "link "};
    const std::string text = kinds[static_cast<int>(entry.kind)] + entry.path +
                             (entry.kind == Kind::Folder ? "" : " [" + entry.data + "]");
    for (const unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) {
            *out << "\\x"
                 << "0123456789ABCDEF"[c / 16] << "0123456789ABCDEF"[c % 16];
        } else {
            *out << c;
        }
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

// a with b's entries added; an entry of b takes the place of one of a at the same path, as a
// copy replaces what it lands on.
inline Tree operator+(Tree a, const Tree& b) {
    for (const Entry& e : b) {
        std::erase_if(a, [&](const Entry& old) { return old.path == e.path; });
        a.push_back(e);
    }
    std::sort(a.begin(), a.end());
    return a;
}

// The entries below `from`, moved below the folder `to`, which comes with them.
inline Tree Moved(const Tree& tree, const std::string& from, const std::string& to) {
    Tree out{Folder(to)};
    for (const Entry& e : tree) {
        if (e.path.starts_with(from + "/")) {
            out.push_back({e.kind, to + e.path.substr(from.size()), e.data});
        }
    }
    return Tree{} + out;
}

// A source folder with a file, a file without a dot, a dot file, a subfolder and an empty
// folder, and a file beside it.
inline Tree Base() {
    return Tree{} + Tree{Folder("src"),          File("src/a.txt", "a"),
                         File("src/noext", "n"), File("src/.hidden", "h"),
                         Folder("src/sub"),      File("src/sub/b.txt", "b"),
                         Folder("src/empty"),    File("file.txt", "f")};
}

inline Tree CopyOfSrc(const std::string& to) {
    return Moved(Base(), "src", to);
}

// A case that succeeds: the scratch folder ends with setup and what the copy added or replaced.
inline Case Copies(std::string name, const Tree& setup, std::string source, std::string target,
                   const Tree& added, std::optional<WineOutcome> wine = {}) {
    return {std::move(name), setup, std::move(source), std::move(target), kOk,
            setup + added,   "",    std::move(wine)};
}
// A case that fails and, all or nothing, leaves setup as it was; the message names `named`.
inline Case Refuses(std::string name, const Tree& setup, std::string source, std::string target,
                    std::uint32_t status, std::string named, std::optional<WineOutcome> wine = {}) {
    return {std::move(name), setup, std::move(source), std::move(target),
            status,          setup, std::move(named),  std::move(wine)};
}

// The reasons Wine's outcome is not followed.
inline const char* const kSound = "Wine misbehaves here; the sound rule stands";
inline const char* const kSuccessForNothing =
    "Wine reports a success although nothing was copied; a failure is reported as one";
inline const char* const kFileIntoMissingFolder =
    "Wine fails on a missing separator-ended folder, the kind of target the folder picker gives";

// Wine's outcome: status, with the aborted flag where it cancels, and what it leaves (none:
// nothing copied).
inline WineOutcome Wine(std::uint32_t status, const char* why, std::optional<Tree> result = {}) {
    return {status, status == kCancelled, std::move(result), why};
}

inline std::vector<Case> ShellCopyCases() {
    const Tree base = Base();
    const Tree withT = base + Tree{Folder("T")};
    const Tree fileInTheWay = {Folder("one"), Folder("one/sub"), File("one/sub/b", "b"),
                               Folder("T"),   Folder("T/one"),   File("T/one/sub", "f")};
    const Tree withLinks = base + Tree{Link("src/la", "a.txt"), Link("src/ls", "sub"),
                                       Link("src/dangling", "nowhere")};
    const Tree linkInTheWay = {Folder("one"), File("one/x.txt", "x"), Folder("elsewhere"),
                               Folder("T"), Link("T/one", "../elsewhere")};
    return {
        // What the target means.
        Copies("file to a new name", base, "src/a.txt", "T", {File("T", "a")}),
        Copies("file to a missing folder named with a separator", base, "src/a.txt", "T/",
               {Folder("T"), File("T/a.txt", "a")},
               Wine(kCancelled, kFileIntoMissingFolder, withT)),
        Copies("file to a new name below missing folders", base, "src/a.txt", "X/Y/T",
               {Folder("X"), Folder("X/Y"), File("X/Y/T", "a")}),
        Copies("file into an existing folder", withT, "src/a.txt", "T", {File("T/a.txt", "a")}),
        Copies("file replaces a file", base, "src/a.txt", "file.txt", {File("file.txt", "a")}),
        Copies("folder to a new name", base, "src", "T", CopyOfSrc("T")),
        Copies("folder into a separator-ended target", base, "src", "T/",
               Tree{Folder("T")} + CopyOfSrc("T/src")),
        Copies("folder merges into an earlier copy: files replaced, others stay",
               withT + Tree{Folder("T/src"), Folder("T/src/sub"), File("T/src/a.txt", "old"),
                            File("T/src/keep", "keep"), File("T/src/sub/b.txt", "old")},
               "src", "T/", CopyOfSrc("T/src")),
        Copies("separators in a row count as one", base, "src", "T//X///",
               Tree{Folder("T"), Folder("T/X")} + CopyOfSrc("T/X/src")),
        Copies("empty target is the current folder", base, "src/a.txt", "", {File("a.txt", "a")}),

        // Patterns.
        Copies("pattern into a new folder, dot names included", base, "src/*", "T", CopyOfSrc("T")),
        Copies("*.* matches names without a dot too", base, "src/*.*", "T/", CopyOfSrc("T")),
        Copies("pattern to a missing name makes a folder", base, "src/*.txt", "T",
               {Folder("T"), File("T/a.txt", "a")},
               Wine(kOk, "Wine copies the one match to a file T; matches go into a folder",
                    base + Tree{File("T", "a")})),
        Copies("? matches exactly one character", base + Tree{File("src/ab.txt", "ab")},
               "src/?.txt", "T/", {Folder("T"), File("T/a.txt", "a")},
               Wine(kCancelled, kFileIntoMissingFolder, withT + Tree{File("src/ab.txt", "ab")})),
        Copies("pattern that matches nothing copies nothing", base, "src/*.xyz", "T/", {}),
        Copies("separator at the end of the source stands for its content", base, "src/", "T/",
               CopyOfSrc("T")),

        // Missing sources.
        Refuses("missing source", base, "nothing", "T/", kNoSource, "nothing"),
        Refuses("empty source", base, "", "T/", kNoSource, "",
                Wine(kAccessDenied, "Wine denies access; an empty source is a missing one")),
        Refuses("pattern in a missing folder", base, "nofolder/*", "T/", kNoSource, "nofolder",
                Wine(kOk, kSuccessForNothing)),

        // A source that is its own destination, or would land inside itself.
        Refuses("file into its own folder", base, "src/a.txt", "src/", kSameFile, "src/a.txt",
                Wine(kOk, kSuccessForNothing)),
        Refuses("folder onto itself lands inside itself", base, "src", "src", kIntoItself, "src",
                Wine(kOk, kSound)),
        Refuses("folder into a new folder below itself", base, "src", "src/new/", kIntoItself,
                "src",
                Wine(kOk, "Wine copies part of src into a new src/new and stops without a word",
                     base + Tree{Folder("src/new"), Folder("src/new/src"),
                                 File("src/new/src/.hidden", "h"), File("src/new/src/a.txt", "a"),
                                 Folder("src/new/src/empty")})),

        // Files and folders in each other's way.
        Refuses("folder onto a file", base, "src", "file.txt", kOntoFile, "file.txt",
                Wine(kOk, kSound)),
        Refuses("pattern onto a file", base, "src/*", "file.txt", kOntoFile, "file.txt",
                Wine(kCancelled, kSound)),
        Refuses("file to a separator-ended name of a file", base, "src/a.txt", "file.txt/",
                kOntoFile, "file.txt", Wine(kCancelled, kSound)),
        Refuses("folder onto a file inside the target", fileInTheWay, "one", "T/", kOntoFile,
                "T/one/sub",
                Wine(kOk, "Wine writes one/sub/b into the file T/one/sub",
                     fileInTheWay + Tree{File("T/one/sub", "b")})),
        Refuses("file onto a folder at the top of the target", withT + Tree{Folder("T/a.txt")},
                "src/a.txt", "T/", kOntoFolder, "T/a.txt", Wine(kOk, kSuccessForNothing)),

        // Links.
        Copies("links in the source are made again, never followed", withLinks, "src", "T/",
               Tree{Folder("T")} + Moved(withLinks, "src", "T/src"),
               Wine(kOk, "Wine copies what links lead to, without the dangling one",
                    withLinks + CopyOfSrc("T/src") +
                        Tree{Folder("T"), File("T/src/la", "a"), Folder("T/src/ls"),
                             File("T/src/ls/b.txt", "b")})),
        Copies("link at a destination file's name is replaced, not written through",
               withT + Tree{Link("T/a.txt", "../file.txt")}, "src/a.txt", "T/",
               {File("T/a.txt", "a")},
               Wine(kOk, "Wine writes through the link into file.txt, outside the target",
                    withT + Tree{File("file.txt", "a"), Link("T/a.txt", "../file.txt")})),
        Refuses("link where a folder is to be merged", linkInTheWay, "one", "T/", kOntoFolder,
                "T/one",
                Wine(kOk, "Wine merges through the link into elsewhere, outside the target",
                     linkInTheWay + Tree{File("elsewhere/x.txt", "x")})),
        Copies("source named through a link is followed", base + Tree{Link("lnk", "src")}, "lnk",
               "T/", Tree{Folder("T")} + CopyOfSrc("T/lnk")),
        Copies("target named through a link is followed",
               base + Tree{Folder("dest"), Link("tl", "dest")}, "src/a.txt", "tl",
               {File("dest/a.txt", "a")}),
    };
}

}  // namespace tarnu::copycases
