#pragma once
// The window of the cameras' calibration by gradient descent. It keeps its
// caption and lives for the whole run; its page comes with the optimisation
// work.
#include <QWidget>

class TOptimizationForm : public QWidget {
    Q_OBJECT
public:
    explicit TOptimizationForm(QWidget* parent = nullptr);
};
