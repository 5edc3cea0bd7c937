#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <map>
#include <string>

#include "ports/ui.h"

namespace tarnu::qt {

// A push button whose caption wraps at word boundaries and whose font shrinks until the whole
// caption fits, so long captions stay readable in small buttons.
class WrapButton : public QPushButton {
    Q_OBJECT
  public:
    WrapButton(const QString& caption, QWidget* parent);
    // The font the caption is drawn with at the button's current size.
    QFont CaptionFont() const;
    // Where the caption is drawn inside the button.
    QRect CaptionRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A label whose font shrinks until its whole caption fits, wrapped at word boundaries where it
// must be, so that a caption is never cut off in the small boxes of a described window.
class FitLabel : public QLabel {
    Q_OBJECT
  public:
    FitLabel(const QString& caption, QWidget* parent);
    // Makes the font smaller where the current caption needs it.
    void Fit();
};

// The top-level widget of a described window; a click of its close box goes to the owner.
class FormWidget : public QWidget {
    Q_OBJECT
  public:
    FormWidget(const ui::WindowDescription& desc, ui::WindowEvents& events);
    QWidget* Control(const std::string& name) const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    ui::WindowEvents& events_;
    std::map<std::string, QWidget*> controls_;
};

class QtWindow : public ui::NativeWindow {
  public:
    QtWindow(const ui::WindowDescription& desc, ui::WindowEvents& events);
    ~QtWindow() override;

    void Show() override;
    std::string Text(const std::string& control) override;
    void SetText(const std::string& control, const std::string& text) override;
    void SetBusy(bool busy) override;
    std::intptr_t Handle() override;

    FormWidget* Widget() const { return widget_; }

  private:
    QWidget* Find(const std::string& control) const;

    FormWidget* widget_;
    bool shownOnce_ = false;
    std::string firstFocus_;
};

// The largest font, no larger than base, in which text laid out with flags fits into room.
QFont FittingFont(const QFont& base, const QRect& room, int flags, const QString& text);

// Converts twips to pixels at the system's 15 twips per pixel.
int TwipsToPixels(int twips);

}  // namespace tarnu::qt
