#include "app/RadioButton.h"

void TRadioButton::Clear() {
    // The checked button of an exclusive group refuses to be unchecked.
    const bool exclusive = autoExclusive();
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(exclusive);
}

void TRadioButton::mouseDoubleClickEvent(QMouseEvent* event) {
    QRadioButton::mouseDoubleClickEvent(event);
    emit doubleClicked();
}
