#include "platform/win32/win32_dialogs.h"

#include <cstring>
#include <vector>

#include "platform/win32/text.h"
#include "ports/error.h"

namespace tarnu::win32 {
// The shell's headers define PIDLIST_ABSOLUTE as a macro of their own.
using PortItemList = commdlg::PIDLIST_ABSOLUTE;
}  // namespace tarnu::win32

#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

namespace tarnu::win32 {

namespace {

// The record size the callers give for the layout of Windows NT 4 on 32-bit Windows, which
// every version of the dialogs accepts; built for 64-bit Windows it has another size there.
constexpr std::uint32_t kNt4RecordSize = 76;
constexpr std::uint32_t kFullRecordSize = 88;

// A request text as the dialog takes it: none for an empty field, else a C string.
struct RequestText {
    explicit RequestText(const std::string& field) : none(field.empty()) {
        if (!none) {
            ansi = AnsiFromUtf8(BeforeNul(field));
        }
    }
    const char* get() const { return none ? nullptr : ansi.c_str(); }
    bool none;
    std::string ansi;
};

// A filter list: entries of a description and its patterns, each closed by NUL, then NUL.
std::string FilterList(const std::string& field) {
    std::string ansi = AnsiFromUtf8(field);
    ansi.append(2, '\0');
    return ansi;
}

// A byte offset into an ANSI text, counted in the UTF-8 form of the same text.
std::uint16_t Utf8Offset(const std::string& ansi, std::uint16_t offset) {
    if (offset == 0 || offset > ansi.size()) {
        return offset;
    }
    return static_cast<std::uint16_t>(
        Utf8FromAnsi(std::string_view(ansi).substr(0, offset)).size());
}

// The meaningful part of an answer buffer: everything before the NULs that fill its end.
std::string WithoutPadding(std::string text) {
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::size_t ItemListSize(const void* pidl) {
    const auto* bytes = static_cast<const std::uint8_t*>(pidl);
    std::size_t size = 0;
    for (;;) {
        std::uint16_t cb = 0;
        std::memcpy(&cb, bytes + size, sizeof cb);
        if (cb == 0) {
            return size + sizeof cb;
        }
        size += cb;
    }
}

void Win32CommonDialogs::Refuse(const std::string& name) {
    boxes_.Show("Der Name \"" + name +
                    "\" enthält Zeichen, die Windows in der Codepage dieses Systems nicht "
                    "darstellen kann. Bitte wählen Sie eine Datei oder einen Ordner mit einem "
                    "anderen Namen.",
                ui::vbCritical, "Auswahl nicht möglich");
}

std::int32_t Win32CommonDialogs::FileDialog(commdlg::OPENFILENAMEA& ofn, bool save) {
    const std::string filter = ofn.lpstrFilter.empty() ? "" : FilterList(ofn.lpstrFilter);
    const RequestText initialDir(ofn.lpstrInitialDir);
    const RequestText title(ofn.lpstrTitle);
    const RequestText defExt(ofn.lpstrDefExt);
    const RequestText templateName(ofn.lpTemplateName);

    // The buffers the dialog writes into, at least as long as the request says.
    std::string file = AnsiFromUtf8(ofn.lpstrFile);
    file.resize(std::max<std::size_t>(file.size(), ofn.nMaxFile) + 2, '\0');
    std::string custom = AnsiFromUtf8(ofn.lpstrCustomFilter);
    custom.resize(std::max<std::size_t>(custom.size(), ofn.nMaxCustFilter) + 2, '\0');
    std::string fileTitle(std::max<std::size_t>(ofn.lpstrFileTitle.size(), ofn.nMaxFileTitle) + 2,
                          '\0');

    OPENFILENAMEA o{};
    o.lStructSize = ofn.lStructSize == kNt4RecordSize    ? OPENFILENAME_SIZE_VERSION_400A
                    : ofn.lStructSize == kFullRecordSize ? sizeof(OPENFILENAMEA)
                                                         : ofn.lStructSize;
    o.hwndOwner = reinterpret_cast<HWND>(ofn.hwndOwner);
    o.hInstance = reinterpret_cast<HINSTANCE>(ofn.hInstance);
    o.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    o.lpstrCustomFilter = ofn.lpstrCustomFilter.empty() ? nullptr : custom.data();
    o.nMaxCustFilter = ofn.nMaxCustFilter;
    o.nFilterIndex = ofn.nFilterIndex;
    o.lpstrFile = file.data();
    o.nMaxFile = ofn.nMaxFile;
    o.lpstrFileTitle = ofn.lpstrFileTitle.empty() ? nullptr : fileTitle.data();
    o.nMaxFileTitle = ofn.nMaxFileTitle;
    o.lpstrInitialDir = initialDir.get();
    o.lpstrTitle = title.get();
    o.Flags = ofn.Flags;
    o.lpstrDefExt = defExt.get();
    o.lCustData = static_cast<LPARAM>(ofn.lCustData);
    o.lpfnHook = reinterpret_cast<LPOFNHOOKPROC>(ofn.lpfnHook);
    o.lpTemplateName = templateName.get();

    const BOOL confirmed = save ? ::GetSaveFileNameA(&o) : ::GetOpenFileNameA(&o);
    if (!confirmed) {
        return 0;
    }
    const std::string answered = file.substr(0, ofn.nMaxFile);
    if (LostCharacters(WithoutPadding(answered))) {
        Refuse(Utf8FromAnsi(BeforeNul(answered)));
        return 0;
    }
    // A selection of several files ends with two NULs, a single name with one.
    const std::string text = WithoutPadding(Utf8FromAnsi(answered));
    const std::size_t closing = (o.Flags & OFN_ALLOWMULTISELECT) ? 2 : 1;
    if (text.size() + closing > ofn.nMaxFile) {
        return 0;
    }
    ofn.lpstrFile = text + std::string(ofn.nMaxFile - text.size(), '\0');
    ofn.nFileOffset = Utf8Offset(answered, o.nFileOffset);
    ofn.nFileExtension = Utf8Offset(answered, o.nFileExtension);
    ofn.nFilterIndex = o.nFilterIndex;
    ofn.Flags = o.Flags;
    if (o.lpstrFileTitle) {
        ofn.lpstrFileTitle = Utf8FromAnsi(BeforeNul(fileTitle)) + '\0';
    }
    if (o.lpstrCustomFilter) {
        ofn.lpstrCustomFilter = Utf8FromAnsi(custom.substr(0, ofn.nMaxCustFilter));
    }
    return confirmed;
}

std::int32_t Win32CommonDialogs::GetOpenFileNameA(commdlg::OPENFILENAMEA& ofn) {
    return FileDialog(ofn, false);
}

std::int32_t Win32CommonDialogs::GetSaveFileNameA(commdlg::OPENFILENAMEA& ofn) {
    return FileDialog(ofn, true);
}

PortItemList Win32CommonDialogs::SHBrowseForFolderA(commdlg::BROWSEINFOA& bi) {
    const std::string title = AnsiForDisplay(BeforeNul(bi.lpszTitle));
    std::string display(std::max<std::size_t>(bi.pszDisplayName.size(), MAX_PATH) + 1, '\0');

    BROWSEINFOA b{};
    b.hwndOwner = reinterpret_cast<HWND>(bi.hwndOwner);
    b.pidlRoot =
        bi.pidlRoot ? reinterpret_cast<PCIDLIST_ABSOLUTE>(bi.pidlRoot->id.data()) : nullptr;
    b.pszDisplayName = bi.pszDisplayName.empty() ? nullptr : display.data();
    b.lpszTitle = bi.lpszTitle.empty() ? nullptr : title.c_str();
    b.ulFlags = bi.ulFlags;
    b.lpfn = reinterpret_cast<BFFCALLBACK>(bi.lpfn);
    b.lParam = static_cast<LPARAM>(bi.lParam);
    b.iImage = bi.iImage;

    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderA(&b);
    if (!chosen) {
        return std::nullopt;
    }
    commdlg::ITEMIDLIST item{
        std::string(reinterpret_cast<const char*>(chosen), ItemListSize(chosen))};
    ::CoTaskMemFree(chosen);
    if (b.pszDisplayName) {
        bi.pszDisplayName = Utf8FromAnsi(BeforeNul(display)) + '\0';
    }
    bi.iImage = b.iImage;
    return item;
}

std::int32_t Win32CommonDialogs::SHGetPathFromIDListA(const PortItemList& pidl, std::string& path) {
    // Asked also without a list, as the callers do after a cancel; the shell then answers 0.
    const auto* list = pidl ? reinterpret_cast<PCIDLIST_ABSOLUTE>(pidl->id.data()) : nullptr;
    std::vector<char> ansi(std::max<std::size_t>(path.size(), MAX_PATH) + 1, '\0');
    if (!::SHGetPathFromIDListA(list, ansi.data())) {
        return 0;
    }
    const std::string answer(ansi.data());
    // The A function puts "?" or a look-alike where the code page lacks a character; the
    // folder's true name tells whether it did.
    std::vector<wchar_t> wide(MAX_PATH * 4, L'\0');
    std::string exact;
    if (::SHGetPathFromIDListW(list, wide.data()) &&
        (!TryAnsiFromUtf8(Utf8FromWide(wide.data()), exact) || exact != answer)) {
        Refuse(Utf8FromWide(wide.data()));
        return 0;
    }
    const std::string utf8 = Utf8FromAnsi(answer);
    if (utf8.size() + 1 > path.size()) {
        return 0;
    }
    path.replace(0, utf8.size() + 1, utf8 + '\0');
    return 1;
}

}  // namespace tarnu::win32
