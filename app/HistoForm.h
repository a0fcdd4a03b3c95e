#pragma once
// The histogram window: two 256 x 256 image boxes in bevels. It is created
// with the others and lives for the whole run; nothing shows it or draws
// into it.
#include <QWidget>

class TImage;

class THistoForm : public QWidget {
    Q_OBJECT
public:
    explicit THistoForm(QWidget* parent = nullptr);

private:
    TImage *HistoImage1, *HistoImage2;
};
