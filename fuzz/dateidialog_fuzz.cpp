// Drives C_Dateidialog with arbitrary settings and arbitrary dialog answers, and checks what
// a caller relies on: the request matches the buffer, the filter list is closed, and after a
// split selection GetNextFile hands out exactly FileCount - 1 names before answering "".

#include <algorithm>
#include <cstdint>
#include <string>

#include "dialogs/c_dateidialog.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/scripted_dialogs.h"

namespace {

using tarnu::fuzz::Check;

// Takes the next piece of the input, up to a 0xFF byte.
std::string Piece(const std::uint8_t*& data, const std::uint8_t* end) {
    const std::uint8_t* stop = std::find(data, end, 0xFF);
    std::string piece(data, stop);
    data = stop == end ? end : stop + 1;
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const auto flags = static_cast<std::int32_t>(std::uint32_t{data[1]} << 24 | data[2] << 16 |
                                                 data[3] << 8 | data[4]);
    const std::uint8_t* cursor = data + 5;
    const std::uint8_t* end = data + size;

    tarnu::test::RecordingMessageBoxes boxes;
    tarnu::test::ScriptedDialogs dialogs;
    tarnu::dialogs::C_Dateidialog d(boxes, dialogs, [] { return std::string("/cwd"); });
    if (mode & 1) {
        d.MultiSelect(mode & 2);
    }
    if (mode & 4) {
        d.MultiSelectOCXCompatible(mode & 8);
    }
    d.Flags(mode & 16 ? flags : 0);
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
    Check(!boxes.boxes.empty() || first == d.FileName(), "the result is not the file name");
    const bool split = (mode & 3) == 3 && !((mode & 12) == 12) && d.FileCount() > 1;
    const int names = split ? d.FileCount() - 1 : 0;
    for (int i = 0; i < names; ++i) {
        Check(!d.GetNextFile().empty(), "fewer names than FileCount");
    }
    Check(d.GetNextFile().empty(), "more names than FileCount");
    d.ShowSave();
    d.ShowFolder();
    for (const auto& box : boxes.boxes) {
        Check(!box.title.empty(), "a message box without a title");
    }
    for (const auto* requests : {&dialogs.opened, &dialogs.saved}) {
        for (const auto& ofn : *requests) {
            Check(ofn.lpstrFile.size() == ofn.nMaxFile &&
                      ofn.lpstrFilter.ends_with(std::string(2, '\0')),
                  "the request does not match its buffer or its filter list is open");
        }
    }
    return 0;
}
