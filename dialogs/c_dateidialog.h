#pragma once

// One set of properties in front of the open-file, save-file and folder dialogs. A caller
// creates an object, sets what it needs, calls ShowOpen, ShowSave or ShowFolder and reads the
// outcome from the result or from FileName, FileCount and GetNextFile. Settings and the
// defaults a dialog chooses (caption, flags) stay in force for every later dialog of the same
// object; a caller that wants independent dialogs creates an object for each.
//
// Texts are bytes (UTF-8 on Linux) and may hold NULs, which serve as terminators and list
// separators. Every length here counts bytes, NULs included, exactly as the common dialogs
// count their buffers (ports/commdlg.h): the file-name buffer is intBufLen bytes long and a
// preset name must fit into it in bytes.
//
// Nothing here reports an error to the caller: the dialog methods and the private procedures
// show their own failures in a message box captioned with their exit label and return "".

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ports/commdlg.h"
#include "ports/ui.h"

namespace tarnu::dialogs {

class C_Dateidialog {
  public:
    // Gives the process's current directory at the moment it is called.
    using CurrentDirectory = std::function<std::string()>;

    C_Dateidialog(ui::MessageBoxes& boxes, commdlg::CommonDialogs& dialogs,
                  const CurrentDirectory& currentDirectory);

    // The owner of all three dialogs: a native window handle, 0 for none. Kept at the width of
    // the platform's handles so that no owner gets lost on a 64-bit system.
    void hwnd(std::intptr_t lngAktHWnd);
    void DefaultDir(const std::string& strAktDefaultDir);
    std::int16_t FileCount() const;
    // The full path of the next file of a split multiple selection; "" once its names are used
    // up and after any selection that was not split.
    std::string GetNextFile();
    void InitDir(const std::string& strAktDefaultDir);
    void DefaultFileName(const std::string& strAktDefaultFileName);
    void DefaultExt(const std::string& strAktDefaultExt);
    void DialogTitle(const std::string& Title);
    std::string FileName() const;
    // A list in the dialog's own layout: description, NUL, patterns, NUL, and so on.
    void Filter(const std::string& aktFilter);
    void Filter1Text(const std::string& FilterText);
    void Filter2Text(const std::string& FilterText);
    void Filter3Text(const std::string& FilterText);
    void Filter4Text(const std::string& FilterText);
    void Filter5Text(const std::string& FilterText);
    void Filter1Suffix(const std::string& FilterSuffix);
    void Filter2Suffix(const std::string& FilterSuffix);
    void Filter3Suffix(const std::string& FilterSuffix);
    void Filter4Suffix(const std::string& FilterSuffix);
    void Filter5Suffix(const std::string& FilterSuffix);
    void Flags(std::int32_t lngAktFlags);
    void MultiSelect(bool blnAktMultiSelect);
    void MultiSelectOCXCompatible(bool blnAktKompatibel);
    std::string ShowFolder();
    std::string ShowOpen();
    std::string ShowSave();

  private:
    std::int16_t CountFiles(const std::string& list);
    std::string BuildFilter();
    void CheckFlags(const std::string& intention);
    std::string ParseAuswahl(const std::string& selection, bool start);

    // The file-name buffer handed to an open or save dialog: the preset name, then NULs.
    std::string PreparedBuffer() const;
    commdlg::OPENFILENAMEA OpenFileRequest(const std::string& filter) const;
    // The dialog's answer, never longer than the buffer it was handed.
    std::string AnsweredBuffer(const commdlg::OPENFILENAMEA& request) const;
    // Shows the exception being handled, captioned with a procedure's exit label.
    void ShowError(const std::string& exitLabel);

    ui::MessageBoxes& boxes_;
    commdlg::CommonDialogs& dialogs_;

    std::string strTitle;
    std::string strFilter;
    std::int32_t lngFlags = 0;
    std::string strDefaultExt;
    std::string strDefaultDir;
    bool blnMultiSelect = false;
    std::int16_t intFileCount = 0;
    std::array<std::string, 6> strFilterText;
    std::array<std::string, 6> strFilterSuffix;
    std::intptr_t lngHWnd = 0;
    bool blnKompatibel = false;
    std::string strFileName;
    std::string strNullChar;
    std::string strDefaultFileName;
    std::int16_t intBufLen = 0;
    std::string strAuswahlDir;
    std::string strAuswahlRest;
};

}  // namespace tarnu::dialogs
