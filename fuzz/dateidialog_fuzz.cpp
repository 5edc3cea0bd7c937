// Drives C_Dateidialog with arbitrary settings and arbitrary dialog answers, and checks what
// a caller relies on: the request matches the buffer, the filter list is closed, and after a
// split selection GetNextFile hands out exactly FileCount - 1 names before answering "".

#include <cstdint>
#include <string>

#include "dialogs/c_dateidialog.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/scripted_dialogs.h"

namespace {

using tarnu::fuzz::Check;

class CountingBoxes : public tarnu::ui::MessageBoxes {
  public:
    void Show(const std::string&, int, const std::string& title) override {
        Check(!title.empty(), "a message box without a title");
        ++shown;
    }
    int shown = 0;
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

    CountingBoxes boxes;
    tarnu::test::ScriptedDialogs dialogs;
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
    dialogs.cancel = mode & 64;
    dialogs.answer = std::string(cursor, end);
    if (!dialogs.cancel) {
        dialogs.folder = tarnu::commdlg::ITEMIDLIST{dialogs.answer};
    }

    const std::string first = d.ShowOpen();
    Check(boxes.shown > 0 || first == d.FileName(), "the result is not the file name");
    const bool split = (mode & 3) == 3 && !((mode & 12) == 12) && d.FileCount() > 1;
    const int names = split ? d.FileCount() - 1 : 0;
    for (int i = 0; i < names; ++i) {
        Check(!d.GetNextFile().empty(), "fewer names than FileCount");
    }
    Check(d.GetNextFile().empty(), "more names than FileCount");
    d.ShowSave();
    d.ShowFolder();
    for (const auto* requests : {&dialogs.opened, &dialogs.saved}) {
        for (const auto& ofn : *requests) {
            const std::string& filter = ofn.lpstrFilter;
            Check(ofn.lpstrFile.size() == ofn.nMaxFile && filter.size() >= 2 &&
                      filter.compare(filter.size() - 2, 2, std::string(2, '\0')) == 0,
                  "the request does not match its buffer or its filter list is open");
        }
    }
    return 0;
}
