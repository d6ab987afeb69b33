#include "app/Widgets.h"

#include "common/ErrorReport.h"

void TextProgressBar::setText(const QString& text) {
    text_ = text;
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
