#pragma once

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
    };
    void Show(const std::string& text, int style, const std::string& title) override {
        boxes.push_back({text, style, title});
    }
    std::vector<Box> boxes;
};

}  // namespace tarnu::test
