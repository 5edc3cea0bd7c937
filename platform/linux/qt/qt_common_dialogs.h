#pragma once

// The open, save and folder dialogs drawn with Qt's own (never the desktop's native) file
// dialogs, so that they look and behave the same everywhere and honour every request field.
// Needs a running QApplication; each call shows a modal dialog and returns when it closes.

#include "ports/commdlg.h"

namespace tarnu::qt {

class QtCommonDialogs : public commdlg::CommonDialogs {
  public:
    std::int32_t GetOpenFileNameA(commdlg::OPENFILENAMEA& ofn) override;
    std::int32_t GetSaveFileNameA(commdlg::OPENFILENAMEA& ofn) override;
    commdlg::PIDLIST_ABSOLUTE SHBrowseForFolderA(commdlg::BROWSEINFOA& bi) override;
    std::int32_t SHGetPathFromIDListA(const commdlg::PIDLIST_ABSOLUTE& pidl,
                                      std::string& path) override;
};

}  // namespace tarnu::qt
