#include "dialogs/c_dateidialog.h"

#include <new>
#include <stdexcept>

#include "ports/error.h"
#include "ports/files.h"

namespace tarnu::dialogs {

using commdlg::OFN_ALLOWMULTISELECT;
using commdlg::OFN_EXPLORER;
using commdlg::OFN_FILEMUSTEXIST;
using commdlg::OFN_HIDEREADONLY;
using commdlg::OFN_OVERWRITEPROMPT;
using commdlg::OFN_PATHMUSTEXIST;

namespace {

// The size the open and save dialogs expect in lStructSize.
constexpr std::uint32_t OpenFileNameSize = 76;
constexpr std::int16_t SingleBufLen = 512;
constexpr std::int16_t MultiBufLen = 2000;
// The browser's path buffer, filled with spaces. A longer path does not fit: the shell then
// answers 0 and the choice counts as cancelled.
constexpr std::size_t FolderPathLen = 512;

constexpr std::int32_t MultiSelectFlags =
    static_cast<std::int32_t>(OFN_ALLOWMULTISELECT | OFN_EXPLORER);

// The text before the first occurrence of terminator; a text without one is taken whole.
std::string Before(const std::string& text, const std::string& terminator) {
    const std::size_t p = text.find(terminator);
    return p == std::string::npos ? text : text.substr(0, p);
}

}  // namespace

C_Dateidialog::C_Dateidialog(ui::MessageBoxes& boxes, commdlg::CommonDialogs& dialogs,
                             const CurrentDirectory& currentDirectory)
    : boxes_(boxes), dialogs_(dialogs) {
    try {
        strNullChar = std::string(1, '\0');
        intBufLen = SingleBufLen;
        strFileName = std::string(intBufLen, '\0');
        strTitle = "";
        strFilter = "";
        lngFlags = 0;
        strDefaultExt = strNullChar;
        strDefaultDir = currentDirectory() + strNullChar;
    } catch (...) {
        ShowError("Exit_Class_Initialize");
    }
}

void C_Dateidialog::hwnd(std::intptr_t lngAktHWnd) {
    lngHWnd = lngAktHWnd;
}

void C_Dateidialog::DefaultDir(const std::string& strAktDefaultDir) {
    strDefaultDir = strAktDefaultDir + strNullChar;
}

std::int16_t C_Dateidialog::FileCount() const {
    return intFileCount;
}

std::string C_Dateidialog::GetNextFile() {
    return ParseAuswahl("", false);
}

void C_Dateidialog::InitDir(const std::string& strAktDefaultDir) {
    DefaultDir(strAktDefaultDir);
}

void C_Dateidialog::DefaultFileName(const std::string& strAktDefaultFileName) {
    strDefaultFileName = strAktDefaultFileName;
}

void C_Dateidialog::DefaultExt(const std::string& strAktDefaultExt) {
    strDefaultExt = strAktDefaultExt + strNullChar;
}

void C_Dateidialog::DialogTitle(const std::string& Title) {
    strTitle = Title + strNullChar;
}

std::string C_Dateidialog::FileName() const {
    return strFileName;
}

void C_Dateidialog::Filter(const std::string& aktFilter) {
    if (aktFilter.size() >= 2 && aktFilter.ends_with(strNullChar + strNullChar)) {
        strFilter = aktFilter;
    } else {
        strFilter = aktFilter + strNullChar + strNullChar;
    }
}

void C_Dateidialog::Filter1Text(const std::string& FilterText) {
    strFilterText[1] = FilterText;
}
void C_Dateidialog::Filter2Text(const std::string& FilterText) {
    strFilterText[2] = FilterText;
}
void C_Dateidialog::Filter3Text(const std::string& FilterText) {
    strFilterText[3] = FilterText;
}
void C_Dateidialog::Filter4Text(const std::string& FilterText) {
    strFilterText[4] = FilterText;
}
void C_Dateidialog::Filter5Text(const std::string& FilterText) {
    strFilterText[5] = FilterText;
}

void C_Dateidialog::Filter1Suffix(const std::string& FilterSuffix) {
    strFilterSuffix[1] = FilterSuffix;
}
void C_Dateidialog::Filter2Suffix(const std::string& FilterSuffix) {
    strFilterSuffix[2] = FilterSuffix;
}
void C_Dateidialog::Filter3Suffix(const std::string& FilterSuffix) {
    strFilterSuffix[3] = FilterSuffix;
}
void C_Dateidialog::Filter4Suffix(const std::string& FilterSuffix) {
    strFilterSuffix[4] = FilterSuffix;
}
void C_Dateidialog::Filter5Suffix(const std::string& FilterSuffix) {
    strFilterSuffix[5] = FilterSuffix;
}

void C_Dateidialog::Flags(std::int32_t lngAktFlags) {
    lngFlags = lngAktFlags;
}

void C_Dateidialog::MultiSelect(bool blnAktMultiSelect) {
    blnMultiSelect = blnAktMultiSelect;
    // Once raised the buffer stays large, whatever the selection mode becomes.
    intBufLen = MultiBufLen;
}

void C_Dateidialog::MultiSelectOCXCompatible(bool blnAktKompatibel) {
    blnKompatibel = blnAktKompatibel;
    if (blnAktKompatibel) {
        blnMultiSelect = true;
        intBufLen = MultiBufLen;
    }
}

std::string C_Dateidialog::ShowFolder() {
    std::string result;
    try {
        commdlg::BROWSEINFOA request;
        request.hwndOwner = lngHWnd;
        request.lpszTitle = strTitle;
        request.ulFlags = commdlg::BIF_RETURNONLYFSDIRS;
        const commdlg::PIDLIST_ABSOLUTE chosen = dialogs_.SHBrowseForFolderA(request);
        // Asked also after a cancel: the shell answers 0 for no item, and that is the cancel.
        std::string path(FolderPathLen, ' ');
        if (dialogs_.SHGetPathFromIDListA(chosen, path) != 0) {
            strFileName = Before(path, strNullChar);
        } else {
            strFileName = "";
        }
        result = strFileName;
    } catch (...) {
        const Error e = CurrentError();
        boxes_.Show(std::to_string(e.number()) + ": " + e.description(), ui::vbOKOnly,
                    "ShowFolder");
    }
    return result;
}

std::string C_Dateidialog::ShowOpen() {
    std::string result;
    try {
        const std::string filter = BuildFilter();
        CheckFlags("Open");
        if (strTitle.empty()) {
            strTitle = "Datei öffnen" + strNullChar;
        }
        strFileName = PreparedBuffer();
        commdlg::OPENFILENAMEA request = OpenFileRequest(filter);
        const std::int32_t confirmed = dialogs_.GetOpenFileNameA(request);
        const std::string answer = AnsweredBuffer(request);
        if (confirmed == 0) {
            strFileName = "";
            intFileCount = 0;
            strAuswahlRest = "";
        } else if (!blnMultiSelect) {
            intFileCount = 1;
            strFileName = Before(answer, strNullChar);
            strAuswahlRest = "";
        } else if (!blnKompatibel) {
            strFileName = ParseAuswahl(answer, true);
        } else {
            // The caller splits the raw list itself; GetNextFile has nothing to hand out.
            strFileName = Before(answer, strNullChar + strNullChar);
            strAuswahlRest = "";
        }
        result = strFileName;
    } catch (...) {
        ShowError("Exit_ShowOpen");
    }
    return result;
}

std::string C_Dateidialog::ShowSave() {
    std::string result;
    try {
        const std::string filter = BuildFilter();
        CheckFlags("Save");
        if (strTitle.empty()) {
            strTitle = "Datei speichern unter" + strNullChar;
        }
        strFileName = PreparedBuffer();
        commdlg::OPENFILENAMEA request = OpenFileRequest(filter);
        const std::int32_t confirmed = dialogs_.GetSaveFileNameA(request);
        if (confirmed == 0) {
            strFileName = "";
        } else {
            strFileName = Before(AnsweredBuffer(request), strNullChar);
        }
        result = strFileName;
    } catch (...) {
        ShowError("Exit_ShowSave");
    }
    return result;
}

std::int16_t C_Dateidialog::CountFiles(const std::string& list) {
    std::int16_t result = 0;
    try {
        // Counts the names each closed by a NUL, up to the first empty name. A name stands
        // between `start` and the NUL at `pos`; at the second NUL of a pair pos == start, the
        // name is empty and the list ends. Only the first name may be empty and still count.
        std::int16_t count = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t pos = list.find('\0', start);
            // A list that stops without its closing empty name ends with its last NUL.
            if (pos == std::string::npos || (count > 0 && pos == start)) {
                break;
            }
            start = pos + 1;
            ++count;
        }
        result = count;
    } catch (...) {
        ShowError("Exit_CountFiles");
    }
    return result;
}

std::string C_Dateidialog::BuildFilter() {
    std::string result;
    try {
        std::string list;
        for (std::size_t n = 1; n < strFilterText.size(); ++n) {
            if (!strFilterSuffix[n].empty() && !strFilterText[n].empty()) {
                list += strFilterText[n] + strNullChar + strFilterSuffix[n] + strNullChar;
            }
        }
        if (!strFilter.empty()) {
            while (!strFilter.empty() && strFilter.back() == '\0') {
                strFilter.pop_back();
            }
            // A filter of nothing but NULs would put an empty description first, which ends
            // the list before any entry: it counts as no filter given.
            if (!strFilter.empty()) {
                list = strFilter + strNullChar + list;
            }
        }
        if (list.empty()) {
            list = "Alle Dateien" + strNullChar + "*.*";
        }
        list += strNullChar + strNullChar;
        result = list;
    } catch (...) {
        ShowError("Exit_BuildFilter");
    }
    return result;
}

void C_Dateidialog::CheckFlags(const std::string& intention) {
    if (lngFlags != 0) {
        if (blnMultiSelect) {
            lngFlags |= MultiSelectFlags;
        }
        return;
    }
    if (intention == "Open") {
        lngFlags =
            static_cast<std::int32_t>(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
        if (blnMultiSelect) {
            lngFlags |= MultiSelectFlags;
        }
    } else if (intention == "Save") {
        lngFlags =
            static_cast<std::int32_t>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST);
    } else {
        boxes_.Show("Unbekannte Intention: " + intention, ui::vbOKOnly | ui::vbCritical,
                    "CheckFlags");
    }
}

std::string C_Dateidialog::ParseAuswahl(const std::string& selection, bool start) {
    std::string result;
    const std::string separator(1, PathSeparator());
    try {
        if (start) {
            strAuswahlRest = selection;
            std::size_t p = strAuswahlRest.find('\0');
            if (p == std::string::npos || p + 1 >= strAuswahlRest.size()) {
                throw Error(err::InvalidProcedureCall);
            }
            if (strAuswahlRest[p + 1] == '\0') {
                // One file picked: its full path, and nothing more to hand out.
                result = strAuswahlRest.substr(0, p);
                intFileCount = 1;
                strAuswahlRest = "";
                return result;
            }
            strAuswahlDir = strAuswahlRest.substr(0, p);
            if (strAuswahlDir.ends_with(separator)) {
                strAuswahlDir.pop_back();
            }
            strAuswahlRest = strAuswahlRest.substr(p + 1);
            intFileCount = CountFiles(strAuswahlRest);
            p = strAuswahlRest.find('\0');
            if (p == std::string::npos) {
                throw Error(err::InvalidProcedureCall);
            }
            const std::string name = strAuswahlRest.substr(0, p);
            strAuswahlRest = strAuswahlRest.substr(p + 1);
            result = strAuswahlDir + separator + name;
        } else {
            const std::size_t p = strAuswahlRest.find('\0');
            if (p == std::string::npos) {
                return result;
            }
            const std::string name = strAuswahlRest.substr(0, p);
            if (name.empty()) {
                // The closing NUL: the names are used up, and so is the padding behind them.
                strAuswahlRest = "";
                return result;
            }
            strAuswahlRest = strAuswahlRest.substr(p + 1);
            result = strAuswahlDir + separator + name;
        }
    } catch (...) {
        // A selection that cannot be split holds nothing a caller could take.
        if (start) {
            strAuswahlRest = "";
            intFileCount = 0;
        }
        ShowError("Exit_ParseAuswahl");
    }
    return result;
}

std::string C_Dateidialog::PreparedBuffer() const {
    const std::size_t length = static_cast<std::size_t>(intBufLen);
    if (strDefaultFileName.size() > length) {
        throw Error(err::InvalidProcedureCall);
    }
    return strDefaultFileName + std::string(length - strDefaultFileName.size(), '\0');
}

commdlg::OPENFILENAMEA C_Dateidialog::OpenFileRequest(const std::string& filter) const {
    commdlg::OPENFILENAMEA request;
    request.lStructSize = OpenFileNameSize;
    request.hwndOwner = lngHWnd;
    request.hInstance = 0;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = strFileName;
    request.nMaxFile = static_cast<std::uint32_t>(strFileName.size());
    request.lpstrInitialDir = strDefaultDir;
    request.lpstrTitle = strTitle;
    request.Flags = static_cast<std::uint32_t>(lngFlags);
    request.lpstrDefExt = strDefaultExt;
    return request;
}

std::string C_Dateidialog::AnsweredBuffer(const commdlg::OPENFILENAMEA& request) const {
    return request.lpstrFile.substr(0, request.nMaxFile);
}

void C_Dateidialog::ShowError(const std::string& exitLabel) {
    boxes_.Show(CurrentError().description(), ui::vbOKOnly, exitLabel);
}

}  // namespace tarnu::dialogs
