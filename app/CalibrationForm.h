#pragma once
// The calibration window of one camera. It keeps its caption and lives for
// the whole run; its pages come with the calibration work.
#include <QWidget>

class TCalibrationForm : public QWidget {
    Q_OBJECT
public:
    TCalibrationForm(const QString& camera, QWidget* parent = nullptr);
};

class TCAM1Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM1Form(QWidget* parent = nullptr) : TCalibrationForm("CAM1", parent) {}
};

class TCAM2Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM2Form(QWidget* parent = nullptr) : TCalibrationForm("CAM2", parent) {}
};

class TCAM3Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM3Form(QWidget* parent = nullptr) : TCalibrationForm("CAM3", parent) {}
};
