#include "platform/linux/qt/qt_shell.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLocale>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/linux/posix/posix_shell.h"
#include "ports/printable_name.h"

namespace tarnu::qt {

namespace {

namespace status = posix::copy_status;

// Carries what the worker reports over to the user-interface thread. The lock is held only to
// copy a few values, never across a call that can block.
class SharedObserver : public posix::CopyObserver {
  public:
    void Progress(const posix::CopyProgress& progress) override {
        std::lock_guard lock(mutex_);
        progress_ = progress;
    }
    bool CancelRequested() override { return cancel_.load(std::memory_order_relaxed); }
    void Failed(const posix::CopyFailure& failure) override {
        std::lock_guard lock(mutex_);
        failure_ = failure;
    }

    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
    posix::CopyProgress Latest() {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    std::optional<posix::CopyFailure> Failure() {
        std::lock_guard lock(mutex_);
        return failure_;
    }

  private:
    std::mutex mutex_;
    posix::CopyProgress progress_;
    std::optional<posix::CopyFailure> failure_;
    std::atomic<bool> cancel_{false};
};

bool IsUserInput(const QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        case QEvent::Close:
            return event->spontaneous();  // the close box, not the program closing a window
        default:
            return false;
    }
}

// Keeps user input away from every window but the progress dialog while the copy runs; paint
// events pass, so the windows stay drawn.
class InputBlocker : public QObject {
  public:
    InputBlocker() { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    void Allow(QWidget* widget) { allowed_ = widget; }

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!IsUserInput(event)) {
            return false;
        }
        if (allowed_) {
            if (auto* widget = qobject_cast<QWidget*>(receiver)) {
                return widget != allowed_ && !allowed_->isAncestorOf(widget);
            }
            if (auto* window = qobject_cast<QWindow*>(receiver)) {
                return window != allowed_->windowHandle();
            }
        }
        return true;
    }

  private:
    QPointer<QWidget> allowed_;
};

QString Amount(std::uint64_t bytes) {
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) {
        return QStringLiteral("%1 Bytes").arg(bytes);
    }
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QLocale(QLocale::German).toString(value, 'f', 1) + " " + units[unit];
}

constexpr int kSteps = 1000;

void ShowProgress(QProgressDialog& dialog, const posix::CopyProgress& progress) {
    const QString file = progress.currentFile.empty()
                             ? QString()
                             : QStringLiteral("„%1“\n").arg(
                                   QString::fromStdString(PrintableName(progress.currentFile)));
    dialog.setLabelText(file + Amount(progress.bytesDone) + " von " + Amount(progress.bytesTotal) +
                        " kopiert");
    // A file that grew after it was counted must not push the bar past its end.
    const double share = progress.bytesTotal == 0 ? 0.0
                                                  : static_cast<double>(progress.bytesDone) /
                                                        static_cast<double>(progress.bytesTotal);
    dialog.setValue(static_cast<int>(std::min(share, 1.0) * kSteps));
}

std::unique_ptr<QProgressDialog> MakeProgressDialog() {
    auto dialog = std::make_unique<QProgressDialog>();
    dialog->setObjectName("Kopierfortschritt");
    dialog->setWindowTitle(QStringLiteral("Dateien werden kopiert"));
    dialog->setCancelButtonText(QStringLiteral("Abbrechen"));
    dialog->setRange(0, kSteps);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setMinimumWidth(480);
    dialog->setWindowModality(Qt::ApplicationModal);
    return dialog;
}

// Runs work on a thread of its own while this thread keeps every window drawn; until a window
// is let through, none takes input.
class Waiting {
  public:
    Waiting() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Waiting() { QApplication::restoreOverrideCursor(); }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

    // work must not throw.
    void Run(const std::function<void()>& work) {
        std::thread worker([&] {
            work();
            finished_.store(true);
            QMetaObject::invokeMethod(&loop_, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // The program being told to end also ends this loop: the work still runs to its end.
        while (!finished_.load()) {
            loop_.exec();
        }
        worker.join();
    }
    bool Finished() const { return finished_.load(); }
    QEventLoop& Loop() { return loop_; }
    InputBlocker& Blocker() { return blocker_; }

  private:
    InputBlocker blocker_;
    QEventLoop loop_;
    std::atomic<bool> finished_{false};
};

}  // namespace

QtShell::QtShell(ui::MessageBoxes& boxes, CopyRun run, std::chrono::milliseconds progressDelay)
    : boxes_(boxes), run_(std::move(run)), progressDelay_(progressDelay) {
    if (!run_) {
        run_ = [](SHFILEOPSTRUCTA& request, posix::CopyObserver& observer) {
            return posix::PosixShell(observer).SHFileOperationA(request);
        };
    }
}

int QtShell::SHFileOperationA(SHFILEOPSTRUCTA& request) {
    SharedObserver observer;
    SHFILEOPSTRUCTA work = request;  // the worker's own; the caller's is written back at the end
    int status = status::kDestination;
    {
        Waiting waiting;
        std::unique_ptr<QProgressDialog> dialog;
        QTimer refresh;
        refresh.setInterval(100);
        QObject::connect(&refresh, &QTimer::timeout, [&] {
            if (dialog && !observer.CancelRequested()) {
                ShowProgress(*dialog, observer.Latest());
            }
        });
        QTimer::singleShot(progressDelay_, &waiting.Loop(), [&] {
            if (waiting.Finished()) {
                return;
            }
            dialog = MakeProgressDialog();
            QObject::connect(dialog.get(), &QProgressDialog::canceled, [&] { observer.Cancel(); });
            waiting.Blocker().Allow(dialog.get());
            ShowProgress(*dialog, observer.Latest());
            dialog->show();
            refresh.start();
        });
        waiting.Run([&] {
            try {
                status = run_(work, observer);
            } catch (...) {
                status = status::kDestination;
                if (!observer.Failure()) {
                    observer.Failed(
                        {status, "", "Der Kopiervorgang konnte nicht ausgeführt werden."});
                }
            }
        });
        refresh.stop();
    }
    request.fAnyOperationsAborted = work.fAnyOperationsAborted;
    if (status != 0 && status != status::kCancelled) {
        const std::optional<posix::CopyFailure> failure = observer.Failure();
        boxes_.Show(failure ? failure->text
                            : QStringLiteral("Der Kopiervorgang ist fehlgeschlagen (Status 0x%1).")
                                  .arg(QString::number(status, 16).toUpper())
                                  .toStdString(),
                    ui::vbCritical, kCopyErrorTitle);
    }
    return status;
}

CopySurvey QtShell::SurveyCopy(const std::string& source, const std::string& target) {
    CopySurvey survey;
    Waiting waiting;
    waiting.Run([&] { survey = posix::CopyService().Survey(source, target); });
    return survey;
}

}  // namespace tarnu::qt
