#include "platform/linux/qt/qt_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>
#include <vector>

namespace tarnu::qt {

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString ResourcePath(const std::string& name) {
    return QStringLiteral(":/tarnu/") + Q(name);
}

constexpr int kCaptionFlags = Qt::AlignCenter | Qt::TextWordWrap;
constexpr int kSmallestCaptionPixels = 6;
constexpr Qt::Alignment kLabelFlags = Qt::AlignLeft | Qt::AlignVCenter;

}  // namespace

QFont FittingFont(const QFont& base, const QRect& room, int flags, const QString& text) {
    QFont f = base;
    int pixels = QFontInfo(f).pixelSize();
    for (; pixels > kSmallestCaptionPixels; --pixels) {
        f.setPixelSize(pixels);
        const QRect need = QFontMetrics(f).boundingRect(room, flags, text);
        if (need.width() <= room.width() && need.height() <= room.height()) {
            break;
        }
    }
    f.setPixelSize(pixels);
    return f;
}

int TwipsToPixels(int twips) {
    return (twips + ui::TwipsPerPixel / 2) / ui::TwipsPerPixel;
}

WrapButton::WrapButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setAccessibleName(caption);
}

QRect WrapButton::CaptionRect() const {
    return rect().adjusted(4, 2, -4, -2);
}

QFont WrapButton::CaptionFont() const {
    return FittingFont(font(), CaptionRect(), kCaptionFlags, text());
}

void WrapButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setFont(CaptionFont());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(CaptionRect(), kCaptionFlags, text());
}

FitLabel::FitLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAlignment(kLabelFlags);
    setWordWrap(true);
}

void FitLabel::Fit() {
    setFont(FittingFont(font(), rect(), kLabelFlags | Qt::TextWordWrap, text()));
}

FormWidget::FormWidget(const ui::WindowDescription& desc, ui::WindowEvents& events)
    : QWidget(nullptr), events_(events) {
    setObjectName(Q(desc.name));
    setWindowTitle(Q(desc.caption));

    // A tool window is the one kind of top-level window that window managers keep out of the
    // taskbar; it also gives the narrow title bar that tool windows ask for.
    Qt::WindowFlags flags =
        Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    const bool tool = !desc.showInTaskbar || desc.frame == ui::FrameStyle::FixedToolWindow;
    flags |= tool ? Qt::Tool : Qt::Dialog;
    setWindowFlags(flags);
    setFixedSize(TwipsToPixels(desc.clientWidth), TwipsToPixels(desc.clientHeight));

    if (desc.backColor) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor::fromRgb(*desc.backColor));
        setPalette(pal);
        setAutoFillBackground(true);
    }
    if (!desc.icon.empty()) {
        setWindowIcon(QIcon(ResourcePath(desc.icon)));
    }

    std::vector<const ui::ControlDescription*> byTab;
    for (const auto& c : desc.controls) {
        QWidget* w = nullptr;
        switch (c.kind) {
            case ui::ControlKind::Button: {
                auto* b = new WrapButton(Q(c.caption), this);
                b->setAutoDefault(false);
                const std::string name = c.name;
                connect(b, &QPushButton::clicked, this, [this, name] { events_.Click(name); });
                w = b;
                break;
            }
            case ui::ControlKind::TextBox: {
                auto* e = new QLineEdit(Q(c.caption), this);
                w = e;
                break;
            }
            case ui::ControlKind::Label: {
                w = new FitLabel(Q(c.caption), this);
                break;
            }
            case ui::ControlKind::PictureBox: {
                auto* l = new QLabel(this);
                l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                l->setAutoFillBackground(true);
                QPalette white = l->palette();
                white.setColor(QPalette::Window, Qt::white);
                l->setPalette(white);
                if (!c.picture.empty()) {
                    l->setPixmap(QPixmap(ResourcePath(c.picture)));
                }
                // A picture box is a tab stop like the buttons around it.
                l->setFocusPolicy(Qt::StrongFocus);
                w = l;
                break;
            }
        }
        w->setObjectName(Q(c.name));
        w->setGeometry(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width),
                       TwipsToPixels(c.height));
        controls_[c.name] = w;
        byTab.push_back(&c);
    }
    // The labels of a window share one font, the largest in which every caption fits.
    QFont labelFont = font();
    const auto labels = findChildren<FitLabel*>();
    for (FitLabel* l : labels) {
        const QFont fits =
            FittingFont(font(), l->rect(), kLabelFlags | Qt::TextWordWrap, l->text());
        if (fits.pixelSize() < QFontInfo(labelFont).pixelSize()) {
            labelFont = fits;
        }
    }
    for (FitLabel* l : labels) {
        l->setFont(labelFont);
    }

    std::stable_sort(byTab.begin(), byTab.end(),
                     [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
    for (size_t i = 1; i < byTab.size(); ++i) {
        QWidget::setTabOrder(controls_[byTab[i - 1]->name], controls_[byTab[i]->name]);
    }
}

QWidget* FormWidget::Control(const std::string& name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

void FormWidget::closeEvent(QCloseEvent* event) {
    // The owner decides: it runs the window's unload step and then destroys it.
    event->ignore();
    events_.CloseRequested();
}

QtWindow::QtWindow(const ui::WindowDescription& desc, ui::WindowEvents& events)
    : widget_(new FormWidget(desc, events)) {
    const ui::ControlDescription* first = nullptr;
    for (const auto& c : desc.controls) {
        if (c.kind != ui::ControlKind::Label && (!first || c.tabIndex < first->tabIndex)) {
            first = &c;
        }
    }
    if (first) {
        firstFocus_ = first->name;
    }
}

QtWindow::~QtWindow() {
    // The window may be going away from inside one of its own event handlers (a close box or a
    // button that unloads it), so the widget is only hidden now and deleted later.
    widget_->hide();
    widget_->deleteLater();
}

void QtWindow::Show() {
    if (widget_->isVisible()) {
        widget_->raise();
        widget_->activateWindow();
        return;
    }
    if (!shownOnce_) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            widget_->move(area.center() - widget_->rect().center());
        }
    }
    widget_->show();
    widget_->activateWindow();
    if (!shownOnce_) {
        shownOnce_ = true;
        if (QWidget* w = Find(firstFocus_)) {
            w->setFocus(Qt::OtherFocusReason);
        }
    }
}

QWidget* QtWindow::Find(const std::string& control) const {
    return widget_->Control(control);
}

std::string QtWindow::Text(const std::string& control) {
    QWidget* w = Find(control);
    QString t;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        t = e->text();
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        t = l->text();
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        t = b->text();
    }
    return t.toStdString();
}

void QtWindow::SetText(const std::string& control, const std::string& text) {
    QWidget* w = Find(control);
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(Q(text));
    } else if (auto* l = qobject_cast<FitLabel*>(w)) {
        l->setText(Q(text));
        l->Fit();
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(Q(text));
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        b->setText(Q(text));
        b->setAccessibleName(Q(text));
    }
}

void QtWindow::SetBusy(bool busy) {
    if (busy) {
        widget_->setCursor(Qt::WaitCursor);
    } else {
        widget_->unsetCursor();
    }
}

std::intptr_t QtWindow::Handle() {
    return static_cast<std::intptr_t>(widget_->winId());
}

}  // namespace tarnu::qt
