#pragma once
// The windows' dialogs answered by a test: open dialogs take the queued
// files in turn (nothing left: cancelled), messages are collected.
#include "app/UserDialogs.h"

#include <QStringList>

namespace merkanix::testing {

class QueuedDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString& filter) override {
        filters << filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString SaveFileName(QWidget*, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override { errors << message; }
    QStringList answers, filters, errors;
};

} // namespace merkanix::testing
