#pragma once

#include "ports/commdlg.h"
#include "ports/ui.h"

namespace tarnu::win32 {

// The common dialogs on comdlg32 and shell32, through their ANSI entry points. Requests go
// through the code page; an answer comes back as UTF-8 and must fit into the request's buffer
// in that form, or the dialog counts as failed. A chosen file or folder whose name the code page
// cannot carry is not handed on with "?" in it: the user is told, and the choice counts as
// cancelled.
class Win32CommonDialogs : public commdlg::CommonDialogs {
  public:
    explicit Win32CommonDialogs(ui::MessageBoxes& boxes) : boxes_(boxes) {}
    std::int32_t GetOpenFileNameA(commdlg::OPENFILENAMEA& ofn) override;
    std::int32_t GetSaveFileNameA(commdlg::OPENFILENAMEA& ofn) override;
    // The list the shell returns is copied into the answer and freed at once.
    commdlg::PIDLIST_ABSOLUTE SHBrowseForFolderA(commdlg::BROWSEINFOA& bi) override;
    std::int32_t SHGetPathFromIDListA(const commdlg::PIDLIST_ABSOLUTE& pidl,
                                      std::string& path) override;

  private:
    std::int32_t FileDialog(commdlg::OPENFILENAMEA& ofn, bool save);
    void Refuse(const std::string& name);

    ui::MessageBoxes& boxes_;
};

// The size of an item identifier list in bytes, its closing zero included.
std::size_t ItemListSize(const void* pidl);

}  // namespace tarnu::win32
