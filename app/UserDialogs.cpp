#include "app/UserDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

class RealDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget* parent, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    }
    QString SaveFileName(QWidget* parent, const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, QString(), QString(), filter);
    }
    void ShowError(QWidget* parent, const QString& message) override {
        QMessageBox::critical(parent, QApplication::applicationName(), message);
    }
};

RealDialogs g_realDialogs;
UserDialogs* g_current = &g_realDialogs;

} // namespace

UserDialogs& UserDialogs::Current() {
    return *g_current;
}
void UserDialogs::Install(UserDialogs* dialogs) {
    g_current = dialogs ? dialogs : &g_realDialogs;
}
