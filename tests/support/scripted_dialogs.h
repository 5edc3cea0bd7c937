#pragma once

#include <string>
#include <vector>

#include "ports/commdlg.h"
#include "ports/error.h"

namespace tarnu::test {

// Answers the common dialogs as scripted, writing a confirmed answer over the start of the
// buffer like the real ones do, and keeps every request.
class ScriptedDialogs : public commdlg::CommonDialogs {
  public:
    using OFN = commdlg::OPENFILENAMEA;
    std::int32_t GetOpenFileNameA(OFN& ofn) override { return Answer(ofn, opened); }
    std::int32_t GetSaveFileNameA(OFN& ofn) override { return Answer(ofn, saved); }
    commdlg::PIDLIST_ABSOLUTE SHBrowseForFolderA(commdlg::BROWSEINFOA& bi) override {
        browsed.push_back(bi);
        FailIfAsked();
        return folder;
    }
    std::int32_t SHGetPathFromIDListA(const commdlg::PIDLIST_ABSOLUTE& pidl,
                                      std::string& path) override {
        pathBuffer = path;
        if (!pidl || pidl->id.size() >= path.size()) {
            return 0;
        }
        path.replace(0, pidl->id.size() + 1, pidl->id + '\0');
        return 1;
    }

    std::string answer;
    bool cancel = false;
    std::int32_t failWith = 0;
    commdlg::PIDLIST_ABSOLUTE folder;  // the browser's answer; none: cancelled
    std::vector<OFN> opened, saved;
    std::vector<commdlg::BROWSEINFOA> browsed;
    std::string pathBuffer;  // the buffer last given for a folder's path

  private:
    void FailIfAsked() {
        if (failWith != 0) {
            throw Error(failWith);
        }
    }
    std::int32_t Answer(OFN& ofn, std::vector<OFN>& requests) {
        requests.push_back(ofn);
        FailIfAsked();
        if (cancel) {
            return 0;
        }
        ofn.lpstrFile.replace(0, answer.size(), answer);
        return 1;
    }
};

}  // namespace tarnu::test
