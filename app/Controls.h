#pragma once
// Small makers of the controls the windows share, each under the name its
// handlers find it by.
#include "measurement/Edges.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QString>

template <typename Control> Control* Named(Control* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

// A result field: a sunken static text wide enough for `widest`.
inline QLabel* StaticText(const char* name, const QString& text = {},
                          const char* widest = "-000,000000000000") {
    auto* label = Named(new QLabel(text), name);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString::fromLatin1(widest)) + 8);
    return label;
}

// An edit box as wide as `characters` digits.
inline QLineEdit* Edit(const QString& text, const char* name, int characters = 10) {
    auto* edit = Named(new QLineEdit(text), name);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(characters, '0')) + 12);
    return edit;
}

// The edge mode the main window's "Subpixelové hrany" chooses, so that every
// window of a session measures the same kind of edges; whole rows when there
// is no main window.
inline merkanix::EdgeMode ChosenEdgeMode(const QWidget* mainWindow) {
    const auto* box = mainWindow
                          ? mainWindow->findChild<QCheckBox*>(QStringLiteral("SubPixelCheckBox"))
                          : nullptr;
    return box && box->isChecked() ? merkanix::EdgeMode::SubPixel : merkanix::EdgeMode::WholeRows;
}
