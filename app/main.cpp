// Merkanix: creates its windows in their fixed order and runs until the main
// window closes.
#include "app/ApplicationWindows.h"
#include "app/UserDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace {

// In a scripted run nobody is there to close a message box; the open
// dialogs answer the files the command line named, in turn.
class ConsoleDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString&) override {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString SaveFileName(QWidget*, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override {
        std::fprintf(stderr, "merkanix: %s\n", qPrintable(message));
        failed = true;
    }
    bool failed = false;
    QStringList answers;
};

template <typename T> T* Control(QWidget& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) throw std::logic_error(std::string("no control ") + name);
    return control;
}

// Takes a calibration window through its pages as a user would: both images
// opened and the centre searched; the columns marked and the stripes
// removed; the iterative threshold and the focal length; the etalon.
void RunCalibration(QWidget& form, ConsoleDialogs& console, const QString& image1,
                    const QString& image2, const QString& stripes, const QString& etalon) {
    const auto click = [&](const char* name) { Control<QAbstractButton>(form, name)->click(); };
    // The window ignores a file that is not there; a scripted run says so.
    for (const auto& [option, file] :
         {std::pair{"--image1", image1}, {"--image2", image2}, {"--etalon", etalon}})
        if (!file.isEmpty() && !QFileInfo(file).isFile())
            throw std::runtime_error(std::string(option) + ": there is no file " +
                                     file.toStdString());
    if (!image1.isEmpty()) {
        console.answers << image1;
        click("Button1");
    }
    if (!image2.isEmpty()) {
        console.answers << image2;
        click("Button2");
    }
    if (!image1.isEmpty() && !image2.isEmpty()) click("Button3");
    if (!stripes.isEmpty()) {
        const QStringList columns = stripes.split(',');
        bool ok1 = false, ok2 = false;
        const int first = columns.value(0).toInt(&ok1), second = columns.value(1).toInt(&ok2);
        if (columns.size() != 2 || !ok1 || !ok2)
            throw std::runtime_error("--stripes: two columns C1,C2 expected, not " +
                                     stripes.toStdString());
        Control<QSlider>(form, "TrackBar1")->setValue(first);
        Control<QSlider>(form, "TrackBar2")->setValue(second);
        click("Button4");
    }
    if (!image1.isEmpty() || !image2.isEmpty()) {
        click("IterativeRadioButton");
        click("Button6");
    }
    if (!etalon.isEmpty()) {
        console.answers << etalon;
        click("Button7");
    }
}

// Takes the optimisation window through a run as a user would: the three
// basic-position etalon frames, the folder's triples, then MIN.
void RunOptimisation(TOptimizationForm& form, ConsoleDialogs& console,
                     const std::array<QString, 3>& etalons, const QString& folder) {
    static const char* const kButtons[3] = {"Button7", "Button1", "Button2"};
    for (int k = 0; k < 3; ++k) {
        if (etalons[k].isEmpty()) continue;
        if (!QFileInfo(etalons[k]).isFile())
            throw std::runtime_error("--etalon" + std::to_string(k + 1) + ": there is no file " +
                                     etalons[k].toStdString());
        console.answers << etalons[k];
        Control<QAbstractButton>(form, kButtons[k])->click();
    }
    if (!folder.isEmpty()) {
        form.ChooseFolder(folder);
        Control<QAbstractButton>(form, "CheckBox1")->click();
    }
    Control<QAbstractButton>(form, "Button4")->click();
}

// NAME.png -> NAME-K.png, for the K-th page.
QString PageFile(const QString& file, int k) {
    const QFileInfo info(file);
    const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    return file.left(file.size() - suffix.size()) + QString("-%1").arg(k) + suffix;
}

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
        "screenshot",
        "Save the main window as PNG once idle, then exit; with --calibration or "
        "--optimisation each page of that window (after the run), as FILE-1.png, FILE-2.png, ...",
        "FILE");
    const QCommandLineOption calibrationOption(
        "calibration", "Open camera K's calibration window instead of the main window.", "K");
    const QCommandLineOption image1Option("image1", "Calibration: open FILE as image 1.", "FILE");
    const QCommandLineOption image2Option("image2", "Calibration: open FILE as image 2.", "FILE");
    const QCommandLineOption stripesOption(
        "stripes", "Calibration: mark columns C1,C2 and remove the stripes between.", "C1,C2");
    const QCommandLineOption etalonOption("etalon", "Calibration: open FILE as the etalon.",
                                          "FILE");
    const QCommandLineOption optimisationOption(
        "optimisation",
        "Open the optimisation window instead of the main window: load the etalon frames, find "
        "the triples of --folder and run MIN.");
    const QCommandLineOption etalon1Option("etalon1", "Optimisation: CAM1's etalon frame.", "FILE");
    const QCommandLineOption etalon2Option("etalon2", "Optimisation: CAM2's etalon frame.", "FILE");
    const QCommandLineOption etalon3Option("etalon3", "Optimisation: CAM3's etalon frame.", "FILE");
    const QCommandLineOption passesOption("max-passes",
                                          "Optimisation: end the run after N passes at most.", "N");
    parser.addOptions({folderOption, selectOption, screenshotOption, calibrationOption,
                       image1Option, image2Option, stripesOption, etalonOption, optimisationOption,
                       etalon1Option, etalon2Option, etalon3Option, passesOption});
    parser.process(app);

    ConsoleDialogs console;
    const bool scripted = parser.isSet(screenshotOption);
    if (scripted) UserDialogs::Install(&console);

    ApplicationWindows windows;
    TMainForm& mainForm = windows.mainForm;
    if (parser.isSet(calibrationOption)) {
        const QString k = parser.value(calibrationOption);
        QWidget* forms[3] = {&windows.cam1Form, &windows.cam2Form, &windows.cam3Form};
        QWidget* form = k == "1" || k == "2" || k == "3" ? forms[k.toInt() - 1] : nullptr;
        if (form == nullptr) {
            std::fprintf(stderr, "merkanix: --calibration: there is no camera %s\n", qPrintable(k));
            return 2;
        }
        form->show();
        UserDialogs::Install(&console); // the files named above answer the open dialogs
        RunHandler(form, [&] {
            RunCalibration(*form, console, parser.value(image1Option), parser.value(image2Option),
                           parser.value(stripesOption), parser.value(etalonOption));
        });
        if (!scripted) {
            UserDialogs::Install(nullptr);
            return app.exec();
        }
        QTimer::singleShot(200, [&] {
            auto* pages = form->findChild<QTabWidget*>("PageControl1");
            bool saved = true;
            for (int page = 0; page < pages->count() && saved; ++page) {
                pages->setCurrentIndex(page);
                const QString file = PageFile(parser.value(screenshotOption), page + 1);
                saved = form->grab().save(file, "PNG");
                if (!saved) std::fprintf(stderr, "merkanix: cannot write %s\n", qPrintable(file));
            }
            QApplication::exit(saved && !console.failed ? 0 : 1);
        });
        return app.exec();
    }
    if (parser.isSet(optimisationOption)) {
        TOptimizationForm& form = windows.optimisationForm;
        bool ok = true;
        const qlonglong passes =
            parser.isSet(passesOption) ? parser.value(passesOption).toLongLong(&ok) : 0;
        if (!ok || passes < 0) {
            std::fprintf(stderr, "merkanix: --max-passes: %s is not a number of passes\n",
                         qPrintable(parser.value(passesOption)));
            return 2;
        }
        form.SetPassLimit(passes);
        form.show();
        UserDialogs::Install(&console); // the files named above answer the open dialogs
        // Once the run has ended (or failed to start), each page is saved.
        const auto saveAndExit = [&] {
            auto* pages = form.findChild<QTabWidget*>("PageControl1");
            bool saved = true;
            for (int page = 0; page < pages->count() && saved; ++page) {
                pages->setCurrentIndex(page);
                const QString file = PageFile(parser.value(screenshotOption), page + 1);
                saved = form.grab().save(file, "PNG");
                if (!saved) std::fprintf(stderr, "merkanix: cannot write %s\n", qPrintable(file));
            }
            QApplication::exit(saved && !console.failed ? 0 : 1);
        };
        if (scripted)
            QObject::connect(&form, &TOptimizationForm::RunFinished, &form,
                             [&] { QTimer::singleShot(200, saveAndExit); });
        RunHandler(&form, [&] {
            RunOptimisation(form, console,
                            {parser.value(etalon1Option), parser.value(etalon2Option),
                             parser.value(etalon3Option)},
                            parser.value(folderOption));
        });
        if (!scripted)
            UserDialogs::Install(nullptr);
        else if (!form.Running())
            QTimer::singleShot(200, saveAndExit);
        return app.exec();
    }
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
