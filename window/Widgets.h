#pragma once
// Small variants of Qt widgets that the main window needs.

#include <QCheckBox>
#include <QProgressBar>
#include <QProxyStyle>
#include <QString>

// A progress bar whose text is shown literally: QProgressBar would turn "%p", "%v" and "%m"
// in a file name into numbers.
class TextProgressBar final : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    void setText(const QString& text);
    QString text() const override { return text_; }

private:
    QString text_;
};

// A check box that can show a stored third (dimmed) state, but that the user toggles between
// ticked and unticked only.
class OptionCheckBox final : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    // 0 unticked, 1 ticked, 2 dimmed; throws StepFailure for any other value.
    void setValue(int value);
    int value() const;

protected:
    void nextCheckState() override;
};

// A style whose keyboard focus frame is plainly visible: a solid line in the highlight colour
// instead of the base style's faint dotted outline.
class FocusFrameStyle final : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    // A push button with the focus gets the frame inside its border, whatever the base style
    // draws for the focus itself.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};
