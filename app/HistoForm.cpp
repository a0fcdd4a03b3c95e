#include "app/HistoForm.h"

THistoForm::THistoForm(QWidget* parent) : QWidget(parent) {
    setObjectName("THistoForm");
    setWindowTitle("HistoForm");
}
