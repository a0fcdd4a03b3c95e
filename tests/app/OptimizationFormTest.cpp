// The optimisation window driven by control name on the offscreen platform,
// under a Czech locale, on simulated etalon frames of the program's start
// cameras (f = 23 mm).
#include "app/ApplicationWindows.h"
#include "app/ImageBox.h"
#include "app/UserDialogs.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"
#include "optimisation/EtalonOptimisation.h"
#include "support/QueuedDialogs.h"
#include "support/RunCommand.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>
#include <filesystem>
#include <memory>

using namespace merkanix;
using merkanix::testing::QueuedDialogs;
using merkanix::testing::Quote;
using merkanix::testing::ScratchFolder;

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

const char* const kFields[15] = {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit",
                                 "f2Edit", "xc2Edit", "yc2Edit", "x2edit", "y2Edit",
                                 "f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"};
// What a run shows, in one line: g aktual, the f aktual, g optimal, the f
// optimal, the f edits, the gradient and its norm.
const char* const kShown[] = {"ObjectiveFunctionStaticText",
                              "f1currentStaticText",
                              "f2currentStaticText",
                              "f3currentStaticText",
                              "ObjectiveFunctionOptimalStaticText",
                              "f1OptimalStaticText",
                              "f2OptimalStaticText",
                              "f3OptimalStaticText",
                              "f1Edit",
                              "f2Edit",
                              "f3Edit",
                              "Grad1StaticText",
                              "Grad2StaticText",
                              "Grad3StaticText",
                              "GradStaticText"};

} // namespace

class OptimizationFormTest : public QObject {
    Q_OBJECT

    ScratchFolder data_;
    QueuedDialogs dialogs_;
    std::unique_ptr<ApplicationWindows> windows_;

    TOptimizationForm& form() { return windows_->optimisationForm; }
    template <typename T = QWidget> T* control(const char* name, QWidget* in = nullptr) {
        T* found = (in ? in : &form())->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) qFatal("no control %s", name);
        return found;
    }
    QString text(const char* name, QWidget* in = nullptr) {
        if (auto* label = (in ? in : &form())->findChild<QLabel*>(name)) return label->text();
        return control<QLineEdit>(name, in)->text();
    }
    QString shown() {
        QStringList texts;
        for (const char* name : kShown)
            texts << text(name);
        return texts.join('|');
    }
    void set(const char* name, const QString& value) {
        if (auto* label = form().findChild<QLabel*>(name)) return label->setText(value);
        control<QLineEdit>(name)->setText(value);
    }
    void click(const char* name) { control<QAbstractButton>(name)->click(); }
    QString basic(int k) const {
        return Q(data_ / ("basic/Camera" + std::to_string(k) + "_20080415_093012_000.tif"));
    }
    void openEtalons() {
        const char* buttons[3] = {"Button7", "Button1", "Button2"};
        for (int k = 0; k < 3; ++k) {
            dialogs_.answers << basic(k + 1);
            click(buttons[k]);
        }
    }
    void findTriples(const std::string& folder = "triples") {
        form().ChooseFolder(Q(data_ / folder));
        if (control<QCheckBox>("CheckBox1")->isChecked()) click("CheckBox1");
        click("CheckBox1");
    }
    // Presses MIN and waits for the run's last texts.
    void run() {
        QSignalSpy finished(&form(), &TOptimizationForm::RunFinished);
        click("Button4");
        if (form().Running()) QVERIFY(finished.wait(30000));
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        QCOMPARE(testing::RunTool("merkanix-simulate",
                                  Quote(data_.path()) + " --optimisation --triples 3 --seed 2")
                     .status,
                 0);
        std::filesystem::create_directory(data_ / "two");
        for (const char* name :
             {"Camera1_20080415_093012_000.tif", "Camera2_20080415_093012_000.tif"})
            std::filesystem::copy_file(data_ / (std::string("triples/") + name),
                                       data_ / (std::string("two/") + name));
    }
    void init() {
        windows_.reset();
        dialogs_ = {};
        windows_ = std::make_unique<ApplicationWindows>();
        UserDialogs::Install(&dialogs_);
    }
    void cleanup() { windows_.reset(); }
    void cleanupTestCase() { UserDialogs::Install(nullptr); }

    void startsWithItsTextsAndOpensFromTheMainWindow() {
        QCOMPARE(form().windowTitle(), QString("Kalibrace kamer optimalizačně"));
        QStringList fields;
        for (const char* name : kFields)
            fields << text(name) + (control(name)->isEnabled() ? "" : "(off)");
        QCOMPARE(fields.join(' '), QString("16 327,5 245,5 (off) (off) 16 327,5 245,5 (off) (off) "
                                           "16 327,5 245,5 (off) (off)"));
        QStringList settings;
        for (const char* name :
             {"LabeledEdit1", "LabeledEdit2", "stepEdit", "KappaEdit", "epsilonEdit",
              "SufficientGradientEdit", "maxiterEdit", "ObjectiveFunctionOptimalStaticText"})
            settings << text(name);
        QCOMPARE(settings.join(' '),
                 QString("1,020 50 0,1 10000 0,000001 0,000000000001 15 10000000000000000"));
        QVERIFY(control<QRadioButton>("RadioButton2")->isChecked());
        auto* pages = control<QTabWidget>("PageControl1");
        for (int page = 0; page < 2; ++page) { // each page fits 1366 x 768 with the frame
            pages->setCurrentIndex(page);
            const QSize least = form().minimumSizeHint();
            QVERIFY2(least.width() <= 1366 && least.height() <= 730,
                     qPrintable(QString("%1 x %2").arg(least.width()).arg(least.height())));
        }
        windows_->ShowAtStart();
        QVERIFY(form().isVisible());
        form().hide();
        control<QRadioButton>("RadioButton7", &windows_->mainForm)->click();
        QVERIFY(form().isVisible());
    }

    void etalonButtonsLoadTheirCameraAndSetItsFlag() {
        Picture expected(kFrameWidth, kFrameHeight);
        LoadFrame(basic(2).toStdString(), expected);
        dialogs_.answers << "" << Q(data_ / "none.tif") << basic(1) << basic(2);
        for (int i = 0; i < 2; ++i) // cancelled, then a file that is not there
            click("Button1");
        QCOMPARE(form().EtalonFrameLoaded(), (std::array<bool, 3>{false, false, false}));
        click("Button1"); // camera 1's frame, replaced by camera 2's
        click("Button1");
        QCOMPARE(form().EtalonFrameLoaded(), (std::array<bool, 3>{false, true, false}));
        QVERIFY(control<TImage>("EtalonImage2")->picture().bgr == expected.bgr);
        QVERIFY(control<TImage>("EtalonImage1")->picture().bgr !=
                control<TImage>("EtalonImage2")->picture().bgr);
    }

    void findsAndClearsTriples() {
        findTriples();
        QCOMPARE(control<QListWidget>("ListBox1")->count(), 3);
        QCOMPARE(form().Triples().size(), std::size_t{3});
        control<QListWidget>("FileListBox1")->selectAll();
        click("CheckBox1");
        QCOMPARE(control<QListWidget>("ListBox1")->count(), 0);
        QVERIFY(control<QListWidget>("FileListBox1")->selectedItems().isEmpty());

        set("LabeledEdit2", "x");
        click("CheckBox1");
        QCOMPARE(dialogs_.errors, QStringList{"'x' is not a valid floating point value"});
        QCOMPARE(control<QListWidget>("ListBox1")->count(), 0);
        set("LabeledEdit2", "50");
        findTriples("two"); // frames of two cameras only
        QCOMPARE(control<QListWidget>("ListBox1")->count(), 0);
    }

    // The run's stop rules and failures as the window shows them.
    void runsStopAndFailAsShown() {
        const struct {
            const char* name;
            bool etalons, triples;
            const char* time;  // the time limit
            const char* field; // set to `value` before the run
            const char* value;
            const char* error;
            const char* after; // what the run shows; "*" for any text
        } rows[] = {
            {"refused without all etalons", false, true, "0", nullptr, nullptr, "CAM1, CAM2, CAM3",
             "||||10000000000000000||||16|16|16||||"},
            {"a text that is not a number", true, true, "0", "KappaEdit", "1e",
             "'1e' is not a valid floating point value", "||||10000000000000000||||16|16|16||||"},
            {"no triples: one pass, g = 0", true, false, "15", nullptr, nullptr, nullptr,
             "0|16|16|16|0|16|16|16|16|16|16|0|0|0|0"},
            {"g within epsilon: one pass", true, true, "15", "epsilonEdit", "1e30", nullptr,
             "*|16|16|16|*|16|16|16|16|16|16|*|*|*|*"},
            {"time limit 0: one pass", true, true, "0", nullptr, nullptr, nullptr,
             "*|16|16|16|*|16|16|16|16|16|16|*|*|*|*"},
            {"a first pass of NaN", true, true, "15", "f2Edit", "-1",
             "Invalid floating point operation", "NAN|16|-1|16|10000000000000000||||16|-1|16||||"},
            {"a stale best is kept", true, true, "0", "ObjectiveFunctionOptimalStaticText", "0",
             nullptr, "*|16|16|16|0||||16|16|16|*|*|*|*"},
        };
        for (const auto& row : rows) {
            init();
            if (row.etalons) openEtalons();
            if (row.triples) findTriples();
            set("maxiterEdit", row.time);
            if (row.field) set(row.field, row.value);
            run();
            QCOMPARE(dialogs_.errors.size(), row.error ? 1 : 0);
            if (row.error) QVERIFY2(dialogs_.errors.first().contains(row.error), row.name);
            const QStringList want = QString(row.after).split('|');
            const QStringList got = shown().split('|');
            QCOMPARE(got.size(), want.size());
            for (qsizetype i = 0; i < want.size(); ++i)
                if (want[i] != "*")
                    QVERIFY2(got[i] == want[i], qPrintable(row.name + (": " + shown())));
            if (!strcmp(row.time, "0") && !row.error)
                QCOMPARE(control<QProgressBar>("Gauge")->value(), 1000);
        }
    }

    // A run improves on the start, leaves the positions of its best focal
    // lengths, and the next run starts from those.
    void secondRunStartsFromTheBestAndHandsItOver() {
        openEtalons();
        findTriples();
        set("maxiterEdit", "1");
        run();
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(dialogs_.errors.join("; ")));
        const QString best = text("f1Edit");
        QCOMPARE(best, text("f1OptimalStaticText"));
        QVERIFY(best != "16");
        // Positions of the f edits' focal lengths, even when later passes went elsewhere.
        const auto positionsMatchTheFEdits = [this] {
            FocalLengths f;
            for (int k = 0; k < 3; ++k)
                f[k] = ParseReal(text(kFields[5 * k]).toStdString(), ',');
            const CameraEdges reference =
                MeasureReferenceEdges({&control<TImage>("EtalonImage1")->picture(),
                                       &control<TImage>("EtalonImage2")->picture(),
                                       &control<TImage>("EtalonImage3")->picture()},
                                      {true, true, true});
            const CameraPoints at = CameraPositions(1.02, f, {245.5, 245.5, 245.5}, reference);
            QCOMPARE(text("x2edit"), Q(FormatGeneral(at[1].x, ',')));
            QCOMPARE(text("y3Edit"), Q(FormatGeneral(at[2].y, ',')));
        };
        positionsMatchTheFEdits();
        set("ObjectiveFunctionOptimalStaticText", "0"); // no pass improves on it
        run();
        QVERIFY(text("f1currentStaticText") != best);
        QCOMPARE(text("f1Edit"), best);
        positionsMatchTheFEdits();

        set("maxiterEdit", "0");
        set("xc3Edit", "");
        run();
        QCOMPARE(text("f1currentStaticText"), best);

        click("Button3"); // "Nastavit": the texts as they stand, the empty one too
        QWidget* main = &windows_->mainForm;
        for (int i = 0; i < 15; ++i) {
            const QString target = QString(kFields[i]).replace("x2edit", "x2Edit");
            QCOMPARE(text(qPrintable(target), main), text(kFields[i]));
        }
        QVERIFY(!form().isVisible() && main->isVisible());
    }

    void scriptedRunSavesBothPages() {
        ScratchFolder out;
        std::string args = "--optimisation --folder " + Quote(data_ / "triples");
        for (int k = 1; k <= 3; ++k)
            args += " --etalon" + std::to_string(k) + " " + Quote(basic(k).toStdString());
        const auto result = testing::RunTool("merkanix", args + " --max-passes 3 --screenshot " +
                                                             Quote(out / "shot.png"));
        QCOMPARE(result.status, 0);
        for (const char* page : {"shot-1.png", "shot-2.png"})
            QVERIFY(!QImage(Q(out / page)).isNull());
        // A missing etalon frame is an error, and the pages still show the window.
        const auto refused =
            testing::RunTool("merkanix", "--optimisation --etalon1 " + Quote(out / "none.tif") +
                                             " --screenshot " + Quote(out / "no.png"));
        QCOMPARE(refused.status, 1);
        QVERIFY(QString::fromStdString(refused.err).contains("none.tif"));
    }

    void staysResponsiveAndClosingEndsTheRun() {
        openEtalons();
        findTriples();
        form().show();
        set("maxiterEdit", "60");
        set("SufficientGradientEdit", "0");
        set("epsilonEdit", "0");
        click("Button4");
        QVERIFY(form().Running());
        QVERIFY(!control("Button4")->isEnabled());
        QTRY_VERIFY(text("ObjectiveFunctionStaticText") != ""); // passes show while it runs
        QVERIFY(form().Running());
        form().close();
        QVERIFY(!form().Running());
        QTRY_VERIFY(control("Button4")->isEnabled());
        QVERIFY(dialogs_.errors.isEmpty());
        click("Button4"); // and the program closes with a run going
        QVERIFY(form().Running());
    }
};

QTEST_MAIN(OptimizationFormTest)
#include "OptimizationFormTest.moc"
