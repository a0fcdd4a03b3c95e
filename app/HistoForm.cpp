#include "app/HistoForm.h"

#include "app/ImageBox.h"

#include <QFrame>
#include <QVBoxLayout>

namespace {

// A 256 x 256 image box inside a sunken bevel.
TImage* BevelledBox(QVBoxLayout* layout, const char* name) {
    auto* bevel = new QFrame;
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* inside = new QVBoxLayout(bevel);
    inside->setContentsMargins(8, 8, 8, 8);
    auto* box = new TImage(256, 256);
    box->setObjectName(QString::fromLatin1(name));
    box->setFixedSize(256, 256);
    inside->addWidget(box);
    layout->addWidget(bevel, 0, Qt::AlignHCenter);
    return box;
}

} // namespace

THistoForm::THistoForm(QWidget* parent) : QWidget(parent) {
    setObjectName("THistoForm");
    setWindowTitle("HistoForm");
    auto* layout = new QVBoxLayout(this);
    HistoImage1 = BevelledBox(layout, "HistoImage1");
    HistoImage2 = BevelledBox(layout, "HistoImage2");
    layout->addStretch();
    resize(323, 636);
}
