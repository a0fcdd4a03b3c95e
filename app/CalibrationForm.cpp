#include "app/CalibrationForm.h"

TCalibrationForm::TCalibrationForm(const QString& camera, QWidget* parent) : QWidget(parent) {
    setObjectName("T" + camera + "Form");
    setWindowTitle("Kalibrace " + camera);
    resize(700, 560);
}
