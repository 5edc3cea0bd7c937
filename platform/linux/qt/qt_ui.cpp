#include "platform/linux/qt/qt_ui.h"

#include <QApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "platform/linux/qt/qt_window.h"

// The artwork is compiled into a static library, whose resource initialiser the linker would
// otherwise drop.
static void InitTarnuResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tarnu::qt {

int QtOptionArity(const std::string& argument) {
    // Qt takes its options with one dash or two, and a value either as the next argument or
    // after "=".
    std::string name = argument;
    if (name.rfind("--", 0) == 0) {
        name.erase(0, 1);
    }
    if (name.size() < 2 || name[0] != '-') {
        return -1;
    }
    name.erase(0, 1);
    const auto equals = name.find('=');
    const bool inlineValue = equals != std::string::npos;
    name = name.substr(0, equals);
    static const char* const kWithValue[] = {
        "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
        "style",       "stylesheet",         "qmljsdebugger", "dialogs", "fontengine"};
    static const char* const kWithout[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    for (const char* option : kWithValue) {
        if (name == option) {
            return inlineValue ? 0 : 1;
        }
    }
    for (const char* option : kWithout) {
        if (name == option && !inlineValue) {
            return 0;
        }
    }
    return -1;
}

std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, int style,
                                             const std::string& title) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (style == ui::vbCritical) {
        icon = QMessageBox::Critical;
    } else if (style == ui::vbInformation) {
        icon = QMessageBox::Information;
    }
    auto box = std::make_unique<QMessageBox>(icon, QString::fromStdString(title),
                                             QString::fromStdString(text), QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void QtMessageBoxes::Show(const std::string& text, int style, const std::string& title) {
    BuildMessageBox(text, style, title)->exec();
}

QtUiPlatform::QtUiPlatform(ui::AppObject app) : app_(std::move(app)) {
    InitTarnuResources();
    // The tool speaks German whatever the desktop's language: Qt's own dialogs and buttons
    // (the folder browser, "OK") too, where Qt's German texts are installed.
    auto* german = new QTranslator(qApp);
    if (german->load(QLocale(QLocale::German, QLocale::Germany), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(german);
    } else {
        delete german;
    }
    // The program's end is decided by its own windows, not by Qt's idea of the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationDisplayName(QString());
}

QtUiPlatform::~QtUiPlatform() {
    // Windows unloaded or ended with the program are deleted late; do it before Qt goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::unique_ptr<ui::NativeWindow> QtUiPlatform::MakeWindow(const ui::WindowDescription& desc,
                                                           ui::WindowEvents& events) {
    return std::make_unique<QtWindow>(desc, events);
}

int QtUiPlatform::Run() {
    if (quitRequested_) {
        return exitCode_;
    }
    running_ = true;
    const int code = QApplication::exec();
    running_ = false;
    return code;
}

void QtUiPlatform::Quit(int exitCode) {
    quitRequested_ = true;
    exitCode_ = exitCode;
    if (running_) {
        QCoreApplication::exit(exitCode);
    }
}

}  // namespace tarnu::qt
