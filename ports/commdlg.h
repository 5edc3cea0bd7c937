#pragma once

// The common dialogs the file dialog component shows: the open-file and save-file dialogs and
// the folder browser, with the semantics of their comdlg32 and shell32 namesakes.
//
// Texts travel as they do through the "A" entry points: bytes of the platform's character set,
// which on Linux is UTF-8. A text field is read up to its first NUL like a C string; a field of
// length 0 stands for a null pointer ("none"). Lengths and buffer sizes count bytes, NULs
// included, so a buffer of nMaxFile bytes holds at most nMaxFile - 1 bytes of name plus its
// terminator, whatever the characters of that name are.

#include <cstdint>
#include <optional>
#include <string>

namespace tarnu::commdlg {

constexpr std::uint32_t OFN_READONLY = 0x1;
constexpr std::uint32_t OFN_OVERWRITEPROMPT = 0x2;
constexpr std::uint32_t OFN_HIDEREADONLY = 0x4;
constexpr std::uint32_t OFN_ALLOWMULTISELECT = 0x200;
constexpr std::uint32_t OFN_PATHMUSTEXIST = 0x800;
constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x1000;
constexpr std::uint32_t OFN_EXPLORER = 0x80000;

constexpr std::uint32_t BIF_RETURNONLYFSDIRS = 0x1;

// The request of an open or save dialog, and its answer in lpstrFile (and nFilterIndex, Flags).
struct OPENFILENAMEA {
    std::uint32_t lStructSize = 0;
    std::intptr_t hwndOwner = 0;  // native handle of the owner window, 0 for none
    std::intptr_t hInstance = 0;
    // Entries of a description, NUL, its patterns (separated by ';'), NUL; an empty description
    // or the end of the text ends the list.
    std::string lpstrFilter;
    std::string lpstrCustomFilter;
    std::uint32_t nMaxCustFilter = 0;
    std::uint32_t nFilterIndex = 0;  // 1 for the first entry; the dialog writes back the last one
    // The file-name buffer: on entry the preset name, NUL-terminated; on a confirmed dialog the
    // selection. The dialog writes at most nMaxFile bytes into it and fails rather than cut an
    // answer short. Without OFN_ALLOWMULTISELECT the answer is the full path, NUL. With it, a
    // selection of several files is the folder, NUL, each name followed by NUL, and one more
    // NUL; a selection of one file is its full path, NUL, NUL. NULs fill the rest.
    std::string lpstrFile;
    std::uint32_t nMaxFile = 0;
    std::string lpstrFileTitle;
    std::uint32_t nMaxFileTitle = 0;
    std::string lpstrInitialDir;
    std::string lpstrTitle;   // the caption; none gives the dialog's own caption
    std::uint32_t Flags = 0;  // OFN_ flags; the dialog sets or clears OFN_READONLY on return
    std::uint16_t nFileOffset = 0;
    std::uint16_t nFileExtension = 0;
    std::string lpstrDefExt;  // appended, after a dot, to a typed name without extension
    std::intptr_t lCustData = 0;
    std::intptr_t lpfnHook = 0;
    std::string lpTemplateName;
};

// The shell's identifier of the item a folder browser answered, as the platform's shell names
// it: the Linux shell knows only the file system, so there it is the item's path; on Windows it
// is a copy of the bytes of the shell's item identifier list (the list itself is freed as soon
// as it is copied, so nothing needs to be released).
struct ITEMIDLIST {
    std::string id;
};
using PIDLIST_ABSOLUTE = std::optional<ITEMIDLIST>;  // no value: none (the user cancelled)

struct BROWSEINFOA {
    std::intptr_t hwndOwner = 0;
    PIDLIST_ABSOLUTE pidlRoot;   // none: the browser starts at the top of the namespace
    std::string pszDisplayName;  // none, or a buffer for the display name of the chosen item
    std::string lpszTitle;       // the text above the folder tree
    std::uint32_t ulFlags = 0;   // BIF_ flags
    std::intptr_t lpfn = 0;
    std::intptr_t lParam = 0;
    std::int32_t iImage = 0;
};

class CommonDialogs {
  public:
    virtual ~CommonDialogs() = default;
    // Modal. Non-zero when the user confirmed; 0 on cancel and on any failure of the dialog,
    // such as a selection that does not fit into nMaxFile bytes (then lpstrFile is untouched).
    virtual std::int32_t GetOpenFileNameA(OPENFILENAMEA& ofn) = 0;
    virtual std::int32_t GetSaveFileNameA(OPENFILENAMEA& ofn) = 0;
    // Modal. The chosen item, or none on cancel.
    virtual PIDLIST_ABSOLUTE SHBrowseForFolderA(BROWSEINFOA& bi) = 0;
    // Non-zero when pidl names a file-system folder and its path, NUL-terminated, fits into
    // the bytes path already holds; the path is then written over the start of the buffer.
    // 0 otherwise, the cancel of the browser (pidl none) included; the buffer is then untouched.
    virtual std::int32_t SHGetPathFromIDListA(const PIDLIST_ABSOLUTE& pidl, std::string& path) = 0;
};

}  // namespace tarnu::commdlg
