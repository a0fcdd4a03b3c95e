// Merkanix: creates its windows in their fixed order and runs until the main
// window closes.
#include "app/ApplicationWindows.h"
#include "app/UserDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

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
        // As a user would: tick "Nalezení trojic", then click the triple.
        auto* findTriples = mainForm.findChild<QCheckBox*>("CheckBox1");
        auto* triples = mainForm.findChild<QListWidget*>("ListBox1");
        RunHandler(&mainForm, [&] {
            findTriples->click();
            if (!ok || k < 1 || k > triples->count())
                throw std::runtime_error("--select: there is no triple " +
                                         parser.value(selectOption).toStdString());
            triples->setCurrentRow(k - 1);
            emit triples->itemClicked(triples->item(k - 1));
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
