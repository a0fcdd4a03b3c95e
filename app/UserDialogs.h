#pragma once
// The file dialogs and message boxes the windows show, behind one seam so
// that tests can answer them.
#include <QString>
#include <exception>

class QWidget;

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // An empty text means the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& filter) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& filter) = 0;
    // The application's error report: the message in a message box.
    virtual void ShowError(QWidget* parent, const QString& message) = 0;

    // The dialogs in use; the real ones until a test installs others.
    static UserDialogs& Current();
    static void Install(UserDialogs* dialogs); // nullptr restores the real ones
};

// Runs a handler; a failure stops it and is shown in the error report, and
// the program goes on.
template <typename Handler> void RunHandler(QWidget* window, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        UserDialogs::Current().ShowError(window, QString::fromUtf8(e.what()));
    }
}
