#pragma once
// An up-down button pair beside a read-only edit box: it holds a position
// within its range and reports every click; the handler writes the edit.
#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(int minimum, int maximum, int position, QWidget* parent = nullptr);

    int Position() const { return position_; }
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    // As the arrows do: one step, kept within the range, then `clicked`.
    void StepUp() { Step(1); }
    void StepDown() { Step(-1); }

signals:
    void clicked();

private:
    void Step(int direction);

    int minimum_, maximum_, position_;
    QToolButton *up_, *down_;
};
