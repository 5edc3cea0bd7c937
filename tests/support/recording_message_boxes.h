#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ports/ui.h"

namespace tarnu::test {

// Remembers every message box instead of showing it.
class RecordingMessageBoxes : public ui::MessageBoxes {
  public:
    struct Box {
        std::string text;
        int style;
        std::string title;
        bool operator==(const Box&) const = default;
        friend void PrintTo(const Box& b, std::ostream* out) {
            *out << '[' << b.title << ", " << b.style << "] " << b.text;
        }
    };
    void Show(const std::string& text, int style, const std::string& title) override {
        boxes.push_back({text, style, title});
    }
    std::vector<Box> boxes;
};

// The boxes a test expects to have been shown, in order.
using Shown = std::vector<RecordingMessageBoxes::Box>;

}  // namespace tarnu::test
