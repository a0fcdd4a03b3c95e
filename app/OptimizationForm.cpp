#include "app/OptimizationForm.h"

TOptimizationForm::TOptimizationForm(QWidget* parent) : QWidget(parent) {
    setObjectName("TOptimizationForm");
    setWindowTitle("Kalibrace kamer optimalizačně");
    resize(900, 640);
}
