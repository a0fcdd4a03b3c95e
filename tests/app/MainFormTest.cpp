// The main window driven by control name on the offscreen platform, under a
// Czech locale as in the lab.
#include "app/ApplicationWindows.h"
#include "app/ImageBox.h"
#include "app/RadioButton.h"
#include "app/UserDialogs.h"
#include "common/NumberText.h"
#include "measurement/Evaluation.h"
#include "measurement/FrameFile.h"
#include "reconstruction/ReconstructionView.h"
#include "support/RunCommand.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <memory>

using namespace merkanix;
using merkanix::testing::ScratchFolder;

namespace {

class ScriptedDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString& filter) override {
        filters << filter;
        return answer;
    }
    QString SaveFileName(QWidget*, const QString& filter) override {
        filters << filter;
        return answer;
    }
    void ShowError(QWidget*, const QString& message) override { errors << message; }

    QString answer;
    QStringList filters;
    QStringList errors;
};

const char* const kEditNames[15] = {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit",
                                    "f2Edit", "xc2Edit", "yc2Edit", "x2Edit", "y2Edit",
                                    "f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"};

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScratchFolder> samples_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<ApplicationWindows> windows_;

    TMainForm& form() { return windows_->mainForm; }
    template <typename T> T* control(const char* name) {
        T* found = form().findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) qFatal("no control %s", name);
        return found;
    }
    QString text(const char* name) {
        if (auto* label = form().findChild<QLabel*>(QString::fromLatin1(name)))
            return label->text();
        return control<QLineEdit>(name)->text();
    }
    void clickTriple(int k) {
        QListWidget* list = control<QListWidget>("ListBox1");
        list->setCurrentRow(k - 1);
        emit list->itemClicked(list->item(k - 1));
    }
    void findTriples() {
        form().ChooseFolder(QString::fromStdString(samples_->path()));
        QCheckBox* box = control<QCheckBox>("CheckBox1");
        if (box->isChecked()) box->click();
        box->click();
    }
    // What the core measures for triple k of the folder, with the window's texts.
    TripleEvaluation expected(int k) {
        TripleEvaluation out;
        EvaluateTriple(form().Triples()[static_cast<std::size_t>(k - 1)], DefaultCameraTexts(','),
                       ',', true, out);
        return out;
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        UserDialogs::Install(&dialogs_);
        samples_ = std::make_unique<ScratchFolder>();
        const auto sim = merkanix::testing::RunTool(
            "merkanix-simulate", merkanix::testing::Quote(samples_->path()) +
                                     " --triples 3 --extra 2 --seed 5 --ovality 0.2 --noise 200");
        QCOMPARE(sim.status, 0);
    }
    void init() {
        windows_ = std::make_unique<ApplicationWindows>();
        dialogs_.errors.clear();
        dialogs_.filters.clear();
        dialogs_.answer.clear();
    }
    void cleanup() { windows_.reset(); }
    void cleanupTestCase() { UserDialogs::Install(nullptr); }

    void startsWithItsDefaultsAndWindows() {
        const std::pair<QWidget*, QString> captions[] = {
            {&form(), "Merkana"},
            {&windows_->cam1Form, "Kalibrace CAM1"},
            {&windows_->cam2Form, "Kalibrace CAM2"},
            {&windows_->cam3Form, "Kalibrace CAM3"},
            {&windows_->histoForm, "HistoForm"},
            {&windows_->optimisationForm, "Kalibrace kamer optimalizačně"}};
        for (const auto& [window, caption] : captions)
            QCOMPARE(window->windowTitle(), caption);
        windows_->ShowAtStart();
        QVERIFY(windows_->optimisationForm.isVisible());
        QVERIFY(!windows_->cam1Form.isVisible() && !windows_->histoForm.isVisible());

        // The start values in the locale's number format, locked.
        const SystemTexts defaults = DefaultCameraTexts(',');
        for (int i = 0; i < 15; ++i) {
            const CameraTexts& c = defaults[i / 5];
            const std::string* fields[5] = {&c.f, &c.xc, &c.yc, &c.x, &c.y};
            QCOMPARE(text(kEditNames[i]), QString::fromStdString(*fields[i % 5]));
            QVERIFY(!control<QLineEdit>(kEditNames[i])->isEnabled());
        }
        for (int i = 1; i <= 7; ++i)
            QVERIFY(
                !control<TRadioButton>(qPrintable(QString("RadioButton%1").arg(i)))->isChecked());
        QCOMPARE(text("LabeledEdit1"), QString("50"));
        for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label51", "Label56"})
            QCOMPARE(text(name), QString("-"));
        QCOMPARE(control<QCheckBox>("CheckBox1")->text(), QString("Nalezení trojic"));
        QVERIFY(control<QCheckBox>("FibreCheckBox")->isChecked());
        QVERIFY(!control<QCheckBox>("Ellipse3CheckBox")->isChecked());
        QSlider* zoom = control<QSlider>("TrackBar1");
        QCOMPARE((std::array{zoom->minimum(), zoom->maximum(), zoom->value()}),
                 (std::array{1, 500, 100}));
        QCOMPARE(text("Edit1"), QString("100x"));
        QCOMPARE(control<TImage>("EllipseImage")->picture().width, 492);
        QCOMPARE(control<TImage>("Image2")->picture().height, 492);
        QCOMPARE(control<QPushButton>("Button1")->text(), QString("Načíst"));
        QCOMPARE(control<QPushButton>("Button2")->text(), QString("Uložit"));
    }

    void radioButtonsFollowTheirRules() {
        auto radio = [&](int i) {
            return control<TRadioButton>(qPrintable(QString("RadioButton%1").arg(i)));
        };
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
        // On the indicator: a wide button reacts only near its indicator and label.
        auto click = [](TRadioButton* button) {
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        };
        auto doubleClick = [](TRadioButton* button) {
            QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        };
        click(radio(2));
        QVERIFY(control<QLineEdit>("f1Edit")->isEnabled());
        QVERIFY(!control<QLineEdit>("f2Edit")->isEnabled());
        control<QLineEdit>("f1Edit")->setText("24,5");

        click(radio(7));
        QVERIFY(radio(7)->isChecked());
        QVERIFY(!radio(2)->isChecked());
        QVERIFY(windows_->optimisationForm.isVisible());
        for (const char* name : kEditNames)
            QVERIFY(!control<QLineEdit>(name)->isEnabled());
        QCOMPARE(text("f1Edit"), QString("24,5")); // locked, not lost

        // A single click on camera 1's "mm papír" leaves "Gradientním spádem" checked ...
        click(radio(1));
        QVERIFY(windows_->cam1Form.isVisible());
        QVERIFY(radio(1)->isChecked());
        QVERIFY(radio(7)->isChecked());
        // ... the double click clears it.
        doubleClick(radio(1));
        QVERIFY(!radio(7)->isChecked());

        click(radio(7));
        click(radio(5));
        QVERIFY(windows_->cam3Form.isVisible());
        QVERIFY(!radio(7)->isChecked());
        click(radio(4));
        QVERIFY(control<QLineEdit>("y2Edit")->isEnabled());
        click(radio(3));
        QVERIFY(windows_->cam2Form.isVisible());
        QVERIFY(!control<QLineEdit>("y2Edit")->isEnabled());
        QVERIFY(radio(3)->isChecked() && radio(5)->isChecked());
    }

    void trackBarBeforeAnyEvaluationShowsWhite() {
        control<QSlider>("TrackBar1")->setValue(250);
        QCOMPARE(text("Edit1"), QString("250x"));
        for (std::uint8_t byte : control<TImage>("EllipseImage")->picture().bgr)
            QCOMPARE(byte, std::uint8_t{255});
    }

    void findsTriplesAndShowsTheCoresNumbers() {
        findTriples();
        QListWidget* list = control<QListWidget>("ListBox1");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), QString("1"));
        QCOMPARE(list->item(2)->text(), QString("3"));

        for (int k : {2, 1}) { // the second evaluation leaves no trace of the first
            clickTriple(k);
            QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(dialogs_.errors.join("; ")));
            const TripleEvaluation want = expected(k);
            const FrameTriple& triple = form().Triples()[static_cast<std::size_t>(k - 1)];
            QCOMPARE(text("Label51"),
                     QString::fromStdString(FormatGeneral(want.edges[0].top, ',')));
            QCOMPARE(text("Label56"),
                     QString::fromStdString(FormatGeneral(want.edges[2].bottom, ',')));
            QCOMPARE(text("Label4"), QString::fromStdString(FormatSpan(triple.span)));
            QVERIFY(text("Label4").endsWith(" ms"));
            QVERIFY2(text("Label1").startsWith("15.04.08, 09:30:1"), qPrintable(text("Label1")));
            const EllipseTexts fibre = FormatEllipseRow(want.state.fibre, ',');
            QCOMPARE(text("FibreCenterStaticText"), QString::fromStdString(fibre.centre));
            QVERIFY(text("FibreCenterStaticText").contains(" ; "));
            QVERIFY(text("FibreCenterStaticText").contains(','));
            QCOMPARE(text("FibreAngleStaticText"), QString::fromStdString(fibre.angle));
            QCOMPARE(text("DiameterStaticText"),
                     QString::fromStdString(FormatDiameter(want.state.fibre, ',')));
            QCOMPARE(text("Ellipse4bStaticText"),
                     QString::fromStdString(FormatEllipseRow(want.state.ellipses[3], ',').b));
            QCOMPARE(control<TImage>("Image3")->picture().bgr, want.views[2].bgr);
        }

        // The view is the core's drawing at the track bar's zoom, and toggling
        // rings redraws only the view.
        const QStringList before = {text("FibreCenterStaticText"), text("Ellipse2aStaticText"),
                                    text("Label51")};
        control<QCheckBox>("Ellipse2CheckBox")->click();
        control<QSlider>("TrackBar1")->setValue(300);
        RingChoice rings;
        rings.ellipses[1] = true;
        Picture drawn(492, 492);
        DrawReconstruction(drawn, form().Reconstruction(), 300, 2.0, rings);
        QVERIFY(control<TImage>("EllipseImage")->picture().bgr == drawn.bgr);
        QCOMPARE((QStringList{text("FibreCenterStaticText"), text("Ellipse2aStaticText"),
                              text("Label51")}),
                 before);

        control<QCheckBox>("CheckBox1")->click(); // cleared
        QCOMPARE(list->count(), 0);
        for (const char* name : {"Label1", "Label2", "Label3", "Label4"})
            QCOMPARE(text(name), QString("-"));
    }

    void invalidCameraShowsDashes() {
        findTriples();
        control<QLineEdit>("f2Edit")->setText("0");
        clickTriple(1);
        QVERIFY(dialogs_.errors.isEmpty());
        for (const char* name : {"FibreCenterStaticText", "FibreaStaticText", "FibrebStaticText",
                                 "FibreAngleStaticText", "DiameterStaticText",
                                 "Ellipse1CenterStaticText", "Ellipse6AngleStaticText"})
            QCOMPARE(text(name), QString("-"));
        QVERIFY(text("Label51") != "-");
    }

    void aBadTextStopsTheEvaluationWithItsMessage() {
        findTriples();
        clickTriple(1);
        const QString oldDiameter = text("DiameterStaticText");
        control<QLineEdit>("x2Edit")->setText("abc");
        clickTriple(2);
        QCOMPARE(dialogs_.errors, QStringList{"'abc' is not a valid floating point value"});
        // Times and edges of triple 2 were written before the failure; the results were not.
        QCOMPARE(text("Label51"),
                 QString::fromStdString(FormatGeneral(expected(2).edges[0].top, ',')));
        QCOMPARE(text("DiameterStaticText"), oldDiameter);

        dialogs_.errors.clear();
        control<QLineEdit>("x2Edit")->setText("43,1025239130338");
        std::filesystem::remove(form().Triples()[2].path[1]);
        clickTriple(3);
        QCOMPARE(dialogs_.errors.size(), 1);
        QVERIFY(dialogs_.errors[0].contains(QString::fromStdString(form().Triples()[2].path[1])));
        // Camera 1's frame was loaded before camera 2's failed; nothing after it changed.
        Picture first(656, 492);
        LoadFrame(form().Triples()[2].path[0], first);
        QVERIFY(control<TImage>("Image1")->picture().bgr == first.bgr);
        QCOMPARE(text("Label51"),
                 QString::fromStdString(FormatGeneral(expected(2).edges[0].top, ',')));
    }

    void savesAndLoadsTheSettingsFile() {
        ScratchFolder folder;
        dialogs_.answer = QString::fromStdString(folder / "system");
        control<QPushButton>("Button2")->click();
        QCOMPARE(dialogs_.filters, QStringList{".txt (*.txt)"});
        WriteSettingsFile(folder / "core", DefaultCameraTexts(','));
        QVERIFY(merkanix::testing::ReadBytes(folder / "system") ==
                merkanix::testing::ReadBytes(folder / "core"));

        merkanix::testing::WriteBytes(
            folder / "twelve.txt",
            "1\r\n2\r\n3\r\n4\r\n5\r\n--\r\n6\r\n7\r\n8\r\n9\r\n10\r\n--\r\n");
        dialogs_.answer = QString::fromStdString(folder / "twelve.txt");
        control<QPushButton>("Button1")->click();
        QCOMPARE(text("f1Edit"), QString("1"));
        QCOMPARE(text("y2Edit"), QString("10"));
        QCOMPARE(text("f3Edit"), QString(""));
        QCOMPARE(text("y3Edit"), QString(""));
        QVERIFY(!control<QLineEdit>("f1Edit")->isEnabled()); // the states stay

        dialogs_.answer = QString::fromStdString(folder / "missing.txt");
        control<QPushButton>("Button1")->click();
        QCOMPARE(text("f1Edit"), QString("1"));
        dialogs_.answer.clear(); // cancelled
        control<QPushButton>("Button2")->click();
        QVERIFY(dialogs_.errors.isEmpty());
    }

    void scriptedScreenshotOfTheFirstTriple() {
        ScratchFolder folder;
        const auto run = merkanix::testing::RunTool(
            "merkanix", "--folder " + merkanix::testing::Quote(samples_->path()) +
                            " --select 1 --screenshot " +
                            merkanix::testing::Quote(folder / "shot.png"));
        QCOMPARE(run.status, 0);
        const QImage shot(QString::fromStdString(folder / "shot.png"));
        QVERIFY(shot.width() <= 1920 && shot.height() <= 1080 && shot.width() > 1000);
        const auto bad = merkanix::testing::RunTool(
            "merkanix", "--folder " + merkanix::testing::Quote(samples_->path()) +
                            " --select 9 --screenshot " +
                            merkanix::testing::Quote(folder / "none.png"));
        QCOMPARE(bad.status, 1);
        QVERIFY(QString::fromStdString(bad.err).contains("no triple 9"));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
