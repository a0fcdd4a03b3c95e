#pragma once
// The histogram window. It keeps its caption and lives for the whole run;
// its page comes with the calibration work.
#include <QWidget>

class THistoForm : public QWidget {
    Q_OBJECT
public:
    explicit THistoForm(QWidget* parent = nullptr);
};
