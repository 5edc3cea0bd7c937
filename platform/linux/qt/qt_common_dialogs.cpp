#include "platform/linux/qt/qt_common_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

namespace tarnu::qt {

using namespace commdlg;

namespace {

// A request text up to its first NUL, as the "A" functions read it.
QString RequestText(const std::string& text) {
    return QString::fromUtf8(text.c_str(), static_cast<qsizetype>(std::strlen(text.c_str())));
}

std::string AnswerText(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QWidget* Owner(std::intptr_t handle) {
    return handle == 0 ? nullptr : QWidget::find(static_cast<WId>(handle));
}

// The filter list as Qt name filters "description (patterns)". The dialog shows only the
// description, as the list gives it; ';' separates the patterns. "*.*" stands for every
// file here, not only for names that hold a dot.
QStringList NameFilters(const std::string& list) {
    QStringList filters;
    std::size_t pos = 0;
    while (pos < list.size()) {
        std::size_t end = std::min(list.find('\0', pos), list.size());
        const std::string description = list.substr(pos, end - pos);
        if (description.empty() || end == list.size()) {
            break;
        }
        pos = end + 1;
        end = std::min(list.find('\0', pos), list.size());
        const QString patterns = QString::fromUtf8(list.substr(pos, end - pos));
        pos = end + 1;
        QStringList globs;
        for (QString glob : patterns.split(u';', Qt::SkipEmptyParts)) {
            glob = glob.trimmed();
            if (glob == QStringLiteral("*.*")) {
                glob = QStringLiteral("*");
            }
            if (!glob.isEmpty()) {
                globs << glob;
            }
        }
        if (globs.isEmpty()) {
            globs << QStringLiteral("*");
        }
        filters << QString::fromUtf8(description) + QStringLiteral(" (") + globs.join(u' ') + u')';
    }
    return filters;
}

// The file dialog with the checks of the request flags the Qt dialog does not make itself.
class FileDialog : public QFileDialog {
  public:
    FileDialog(QWidget* owner, std::uint32_t flags) : QFileDialog(owner), flags_(flags) {}

  protected:
    void accept() override {
        const QStringList files = selectedFiles();
        // The answer names one folder for all files of a selection.
        if (files.size() > 1) {
            const QString folder = QFileInfo(files.first()).absolutePath();
            for (const QString& file : files) {
                if (QFileInfo(file).absolutePath() != folder) {
                    QMessageBox::warning(this, windowTitle(),
                                         QStringLiteral("Die ausgewählten Dateien müssen in "
                                                        "einem Ordner liegen."));
                    return;
                }
            }
        }
        if (flags_ & OFN_PATHMUSTEXIST) {
            for (const QString& file : files) {
                const QFileInfo info(file);
                if (!info.isDir() && !QFileInfo(info.absolutePath()).isDir()) {
                    QMessageBox::warning(
                        this, windowTitle(),
                        info.absolutePath() +
                            QStringLiteral("\nDer Pfad existiert nicht.\nÜberprüfen Sie, ob "
                                           "der Pfad richtig angegeben wurde."));
                    return;
                }
            }
        }
        QFileDialog::accept();
    }

  private:
    std::uint32_t flags_;
};

// The selection in the buffer layout of the request: one full path, or for a dialog that
// allows several files the folder and the names.
std::string SelectionLayout(const QStringList& files, bool multiSelect) {
    const std::string nul(1, '\0');
    if (files.size() == 1) {
        return AnswerText(files.first()) + nul + (multiSelect ? nul : std::string());
    }
    std::string layout = AnswerText(QFileInfo(files.first()).absolutePath()) + nul;
    for (const QString& file : files) {
        layout += AnswerText(QFileInfo(file).fileName()) + nul;
    }
    return layout + nul;
}

std::int32_t RunFileDialog(OPENFILENAMEA& ofn, bool save) {
    const std::uint32_t flags = ofn.Flags;
    // Several files can be picked only for opening, and only among existing files.
    const bool multiSelect = !save && (flags & OFN_ALLOWMULTISELECT);

    FileDialog dialog(Owner(ofn.hwndOwner), flags);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (multiSelect) {
        dialog.setFileMode(QFileDialog::ExistingFiles);
    } else if (flags & OFN_FILEMUSTEXIST) {
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(save && (flags & OFN_OVERWRITEPROMPT)));
    // After the accept mode, which would put its own caption in place of this one.
    if (!ofn.lpstrTitle.empty()) {
        dialog.setWindowTitle(RequestText(ofn.lpstrTitle));
    }

    const QStringList filters = NameFilters(ofn.lpstrFilter);
    if (!filters.isEmpty()) {
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(filters);
        const qsizetype index = ofn.nFilterIndex;
        dialog.selectNameFilter(filters.at(index >= 1 && index <= filters.size() ? index - 1 : 0));
    }

    const QString initialDir = RequestText(ofn.lpstrInitialDir);
    if (!initialDir.isEmpty() && QFileInfo(initialDir).isDir()) {
        dialog.setDirectory(initialDir);
    }
    // The preset name is what the buffer holds before its first NUL, within its length.
    const std::string preset =
        ofn.lpstrFile.substr(0, std::min<std::size_t>(ofn.lpstrFile.size(), ofn.nMaxFile));
    if (!RequestText(preset).isEmpty()) {
        dialog.selectFile(RequestText(preset));
    }
    QString defaultExt = RequestText(ofn.lpstrDefExt);
    while (defaultExt.startsWith(u'.')) {
        defaultExt.remove(0, 1);
    }
    dialog.setDefaultSuffix(defaultExt);

    QCheckBox* readOnly = nullptr;
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!(flags & OFN_HIDEREADONLY) && grid != nullptr) {
        readOnly = new QCheckBox(QStringLiteral("Schreibgeschützt öffnen"), &dialog);
        readOnly->setObjectName(QStringLiteral("readOnlyCheck"));
        readOnly->setChecked(flags & OFN_READONLY);
        grid->addWidget(readOnly, grid->rowCount(), 0, 1, -1);
    }

    if (dialog.exec() != QDialog::Accepted) {
        return 0;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) {
        return 0;
    }
    const std::string answer = SelectionLayout(files, multiSelect);
    if (answer.size() > ofn.nMaxFile) {
        return 0;
    }
    if (ofn.lpstrFile.size() < ofn.nMaxFile) {
        ofn.lpstrFile.resize(ofn.nMaxFile, '\0');
    }
    ofn.lpstrFile.replace(0, ofn.nMaxFile,
                          answer + std::string(ofn.nMaxFile - answer.size(), '\0'));
    // The dialog names the chosen filter by its shown description only, which need not be
    // unique; its list of filters knows the position.
    const auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (!filters.isEmpty() && types != nullptr && types->currentIndex() >= 0) {
        ofn.nFilterIndex = static_cast<std::uint32_t>(types->currentIndex() + 1);
    }
    if (readOnly != nullptr) {
        ofn.Flags =
            readOnly->isChecked() ? (ofn.Flags | OFN_READONLY) : (ofn.Flags & ~OFN_READONLY);
    }
    return 1;
}

}  // namespace

std::int32_t QtCommonDialogs::GetOpenFileNameA(OPENFILENAMEA& ofn) {
    return RunFileDialog(ofn, false);
}

std::int32_t QtCommonDialogs::GetSaveFileNameA(OPENFILENAMEA& ofn) {
    return RunFileDialog(ofn, true);
}

PIDLIST_ABSOLUTE QtCommonDialogs::SHBrowseForFolderA(BROWSEINFOA& bi) {
    // A folder tree under the request's text, like the shell's browser: Qt's file dialog in
    // folder mode, embedded in a frame that carries the text above it.
    QDialog frame(Owner(bi.hwndOwner));
    frame.setWindowTitle(QStringLiteral("Ordner suchen"));
    auto* layout = new QVBoxLayout(&frame);
    const QString title = RequestText(bi.lpszTitle);
    if (!title.isEmpty()) {
        auto* label = new QLabel(title, &frame);
        label->setObjectName(QStringLiteral("browseTitle"));
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    auto* browser = new QFileDialog(&frame);
    browser->setOption(QFileDialog::DontUseNativeDialog);
    browser->setFileMode(QFileDialog::Directory);
    browser->setOption(QFileDialog::ShowDirsOnly);
    browser->setWindowFlags(Qt::Widget);
    const QString root = bi.pidlRoot ? RequestText(bi.pidlRoot->id) : QString();
    browser->setDirectory(root.isEmpty() ? QDir::homePath() : root);
    layout->addWidget(browser);
    // Qt's dialog accepts an existing folder only; its answer closes the frame.
    QString chosen;
    QObject::connect(browser, &QFileDialog::fileSelected, &frame,
                     [&chosen](const QString& folder) { chosen = folder; });
    QObject::connect(browser, &QDialog::finished, &frame, &QDialog::done);
    if (frame.exec() != QDialog::Accepted || chosen.isEmpty()) {
        return std::nullopt;
    }
    return ITEMIDLIST{AnswerText(chosen)};
}

std::int32_t QtCommonDialogs::SHGetPathFromIDListA(const PIDLIST_ABSOLUTE& pidl,
                                                   std::string& path) {
    if (!pidl) {
        return 0;
    }
    const QString folder = RequestText(pidl->id);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return 0;
    }
    const std::string answer = AnswerText(folder) + '\0';
    if (answer.size() > path.size()) {
        return 0;
    }
    path.replace(0, answer.size(), answer);
    return 1;
}

}  // namespace tarnu::qt
