#pragma once

#include <QApplication>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/linux/qt/qt_ui.h"

namespace tarnu::test {

// The visible top-level window of that object name, or nullptr.
inline QWidget* VisibleWindow(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String(name) && w->isVisible()) {
            return w;
        }
    }
    return nullptr;
}

inline int CountVisibleWindows(const char* name) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        n += (w->objectName() == QLatin1String(name) && w->isVisible()) ? 1 : 0;
    }
    return n;
}

// The object names of n widgets in tab order, starting with `first`.
inline std::vector<std::string> TabOrder(QWidget* first, int n) {
    std::vector<std::string> order;
    for (QWidget* w = first; static_cast<int>(order.size()) < n;) {
        order.push_back(w->objectName().toStdString());
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus));
    }
    return order;
}

// The real Qt platform, remembering every request to end the program.
class RecordingQtUi : public qt::QtUiPlatform {
  public:
    using QtUiPlatform::QtUiPlatform;
    void Quit(int exitCode) override {
        quits.push_back(exitCode);
        QtUiPlatform::Quit(exitCode);
    }
    std::vector<int> quits;
};

}  // namespace tarnu::test
