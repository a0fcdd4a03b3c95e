#pragma once
// A radio button that also reports double clicks, and can be cleared by the
// program although it belongs to an exclusive group.
#include <QRadioButton>

class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;
    void Clear();

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
