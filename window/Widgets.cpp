#include "Widgets.h"

#include "common/ErrorReport.h"
#include "files/PathUtil.h"

#include <QPainter>
#include <QStyleOption>

void TextProgressBar::setText(const QString& text) {
    text_ = ShownText(text);
    update();
}

void OptionCheckBox::setValue(int value) {
    switch (value) {
        case 0:
            setCheckState(Qt::Unchecked);
            break;
        case 1:
            setCheckState(Qt::Checked);
            break;
        case 2:
            setCheckState(Qt::PartiallyChecked);
            break;
        default:
            throw StepFailure(QStringLiteral("Invalid property value: %1 is not a state of the "
                                             "check box (0, 1 or 2)")
                                  .arg(value));
    }
}

int OptionCheckBox::value() const {
    switch (checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        default:
            return 0;
    }
}

void OptionCheckBox::nextCheckState() {
    const bool tick = checkState() != Qt::Checked;
    setTristate(false);
    setCheckState(tick ? Qt::Checked : Qt::Unchecked);
}

namespace {

void drawFocusFrame(QPainter* painter, const QStyleOption* option, QRect rect) {
    painter->save();
    painter->setPen(QPen(option->palette.color(QPalette::Highlight), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(rect).adjusted(1, 1, -1, -1));
    painter->restore();
}

}  // namespace

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const {
    if (element == PE_FrameFocusRect)
        drawFocusFrame(painter, option, option->rect);
    else
        QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    const QStyleOption* shown = option;
    QStyleOptionButton button;
    const bool focused = element == CE_PushButton && (option->state & State_HasFocus);
    if (focused) {
        if (const auto* b = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            button = *b;
            button.state &= ~State_HasFocus;
            shown = &button;
        }
    }
    QProxyStyle::drawControl(element, shown, painter, widget);
    if (focused)
        drawFocusFrame(painter, option, option->rect.adjusted(2, 2, -2, -2));
}
