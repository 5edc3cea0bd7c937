// Drives C_Dateidialog with arbitrary settings and arbitrary dialog answers, and checks what
// a caller relies on: the request matches the buffer, the filter list is closed, and after a
// split selection GetNextFile hands out exactly FileCount - 1 names before answering "".

#include <cstdint>
#include <cstdlib>
#include <string>

#include "dialogs/c_dateidialog.h"

namespace {

using namespace tarnu::commdlg;

class NoBoxes : public tarnu::ui::MessageBoxes {
  public:
    void Show(const std::string&, int, const std::string& title) override {
        if (title.empty()) {
            std::abort();
        }
        ++shown;
    }
    int shown = 0;
};

class AnsweringDialogs : public CommonDialogs {
  public:
    std::int32_t GetOpenFileNameA(OPENFILENAMEA& ofn) override { return Answer(ofn); }
    std::int32_t GetSaveFileNameA(OPENFILENAMEA& ofn) override { return Answer(ofn); }
    PIDLIST_ABSOLUTE SHBrowseForFolderA(BROWSEINFOA&) override {
        return confirm ? PIDLIST_ABSOLUTE(ITEMIDLIST{answer}) : PIDLIST_ABSOLUTE();
    }
    std::int32_t SHGetPathFromIDListA(const PIDLIST_ABSOLUTE& pidl, std::string& path) override {
        if (!pidl || pidl->path.size() + 1 > path.size()) {
            return 0;
        }
        path.replace(0, pidl->path.size() + 1, pidl->path + '\0');
        return 1;
    }

    std::string answer;
    bool confirm = true;

  private:
    std::int32_t Answer(OPENFILENAMEA& ofn) {
        const std::string& filter = ofn.lpstrFilter;
        if (ofn.lpstrFile.size() != ofn.nMaxFile || filter.size() < 2 ||
            filter.compare(filter.size() - 2, 2, std::string(2, '\0')) != 0) {
            std::abort();
        }
        ofn.lpstrFile.replace(0, answer.size(), answer);
        return confirm ? 1 : 0;
    }
};

// Takes the next piece of the input, up to a 0xFF byte.
std::string Piece(const std::uint8_t*& data, const std::uint8_t* end) {
    const std::uint8_t* start = data;
    while (data < end && *data != 0xFF) {
        ++data;
    }
    std::string piece(start, data);
    if (data < end) {
        ++data;
    }
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    std::int32_t flags = 0;
    for (int i = 1; i <= 4; ++i) {
        flags = static_cast<std::int32_t>(static_cast<std::uint32_t>(flags) << 8 | data[i]);
    }
    const std::uint8_t* cursor = data + 5;
    const std::uint8_t* end = data + size;

    NoBoxes boxes;
    AnsweringDialogs dialogs;
    tarnu::dialogs::C_Dateidialog d(boxes, dialogs, [] { return std::string("/cwd"); });
    if (mode & 1) {
        d.MultiSelect(mode & 2);
    }
    if (mode & 4) {
        d.MultiSelectOCXCompatible(mode & 8);
    }
    if (mode & 16) {
        d.Flags(flags);
    }
    if (mode & 32) {
        d.Filter(Piece(cursor, end));
    }
    d.Filter2Text(Piece(cursor, end));
    d.Filter2Suffix(Piece(cursor, end));
    d.DefaultFileName(Piece(cursor, end));
    dialogs.confirm = !(mode & 64);
    dialogs.answer = std::string(cursor, end);

    const std::string first = d.ShowOpen();
    if (boxes.shown == 0 && first != d.FileName()) {
        std::abort();
    }
    const bool split = (mode & 3) == 3 && !((mode & 12) == 12) && d.FileCount() > 1;
    const int names = split ? d.FileCount() - 1 : 0;
    for (int i = 0; i < names; ++i) {
        if (d.GetNextFile().empty()) {
            std::abort();
        }
    }
    if (!d.GetNextFile().empty()) {
        std::abort();
    }
    d.ShowSave();
    d.ShowFolder();
    return 0;
}
