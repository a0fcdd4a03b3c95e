#include "app/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

TUpDown::TUpDown(int minimum, int maximum, int position, QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), position_(position) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton;
    down_ = new QToolButton;
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* arrow : {up_, down_}) {
        arrow->setAutoRepeat(true);
        arrow->setFixedSize(18, 12);
        layout->addWidget(arrow);
    }
    connect(up_, &QToolButton::clicked, this, &TUpDown::StepUp);
    connect(down_, &QToolButton::clicked, this, &TUpDown::StepDown);
}

void TUpDown::Step(int direction) {
    position_ = std::clamp(position_ + direction, minimum_, maximum_);
    emit clicked();
}
