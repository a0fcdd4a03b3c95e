// Merkanix: creates its windows in their fixed order and runs until the main
// window closes.
#include "app/NumberText.h"
#include "app/gui/ApplicationWindows.h"
#include "app/gui/UserDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

namespace {

// In a scripted run nobody is there to close a message box.
class ConsoleDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString&) override { return {}; }
    QString SaveFileName(QWidget*, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override {
        std::fprintf(stderr, "merkanix: %s\n", qPrintable(message));
        failed = true;
    }
    bool failed = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Merkanix");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures a fibre's cross-section from frame triples of three cameras.");
    parser.addHelpOption();
    const QCommandLineOption folderOption("folder", "Open with DIR chosen as the frame folder.",
                                          "DIR");
    const QCommandLineOption selectOption("select", "Tick \"Nalezení trojic\" and click triple K.",
                                          "K");
    const QCommandLineOption screenshotOption(
        "screenshot", "Save the main window as PNG once idle, then exit.", "FILE");
    parser.addOptions({folderOption, selectOption, screenshotOption});
    parser.process(app);

    merkanix::SetDecimalSeparator(TMainForm::LocaleSeparator());

    ConsoleDialogs console;
    const bool scripted = parser.isSet(screenshotOption);
    if (scripted) UserDialogs::Install(&console);

    ApplicationWindows windows;
    TMainForm& mainForm = windows.mainForm;
    if (scripted) {
        mainForm.show(); // the picture is of the main window alone
    } else {
        windows.ShowAtStart();
    }

    if (parser.isSet(folderOption)) mainForm.ChooseFolder(parser.value(folderOption));
    if (parser.isSet(selectOption)) {
        bool ok = false;
        const int k = parser.value(selectOption).toInt(&ok);
        RunHandler(&mainForm, [&] {
            mainForm.CheckBox1->click();
            if (!ok || k < 1 || k > mainForm.ListBox1->count())
                throw std::runtime_error("--select: there is no triple " +
                                         parser.value(selectOption).toStdString());
            mainForm.ListBox1->setCurrentRow(k - 1);
            emit mainForm.ListBox1->itemClicked(mainForm.ListBox1->item(k - 1));
        });
    }
    if (scripted) {
        QTimer::singleShot(200, [&] {
            const bool saved = mainForm.grab().save(parser.value(screenshotOption), "PNG");
            if (!saved)
                std::fprintf(stderr, "merkanix: cannot write %s\n",
                             qPrintable(parser.value(screenshotOption)));
            QApplication::exit(saved && !console.failed ? 0 : 1);
        });
    }
    return app.exec();
}
