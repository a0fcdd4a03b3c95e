#include "app/gui/SecondaryForms.h"

TCalibrationForm::TCalibrationForm(const QString& camera, QWidget* parent) : QWidget(parent) {
    setObjectName("T" + camera + "Form");
    setWindowTitle("Kalibrace " + camera);
    resize(700, 560);
}

THistoForm::THistoForm(QWidget* parent) : QWidget(parent) {
    setObjectName("THistoForm");
    setWindowTitle("HistoForm");
}

TOptimizationForm::TOptimizationForm(QWidget* parent) : QWidget(parent) {
    setObjectName("TOptimizationForm");
    setWindowTitle("Kalibrace kamer optimalizačně");
    resize(900, 640);
}
