// The calibration windows driven by control name on the offscreen platform,
// under a Czech locale, on simulated millimetre paper and etalon frames.
#include "app/ApplicationWindows.h"
#include "app/ImageBox.h"
#include "app/UpDown.h"
#include "app/UserDialogs.h"
#include "calibration/CalibrationSteps.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"
#include "registration/HistoUnit.h"
#include "support/RunCommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

using namespace merkanix;
using merkanix::testing::Quote;
using merkanix::testing::RunTool;
using merkanix::testing::ScratchFolder;

namespace {

// Open dialogs answer the queued files in turn (nothing left: cancelled).
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

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
std::string S(const QString& text) {
    return text.toStdString();
}

const QString kNear = "Camera1_20080415_093012_000_35,00.tif"; // reading 35: nearer
const QString kFar = "Camera1_20080415_093013_000_30,00.tif";  // reading 30: farther
const QString kEtalon = "Camera1_20080415_093014_000.tif";

} // namespace

class CalibrationFormTest : public QObject {
    Q_OBJECT

    ScratchFolder data_;
    QJsonObject truth_;
    QueuedDialogs dialogs_;
    std::unique_ptr<ApplicationWindows> windows_;
    TCalibrationForm* form_ = nullptr;

    // Fresh windows; camera K's calibration window is the one driven.
    void start(int k = 1) {
        windows_.reset();
        dialogs_ = {};
        windows_ = std::make_unique<ApplicationWindows>();
        TCalibrationForm* forms[3] = {&windows_->cam1Form, &windows_->cam2Form,
                                      &windows_->cam3Form};
        form_ = forms[k - 1];
    }
    QString file(const QString& name) const { return Q(data_ / S(name)); }
    template <typename T = QWidget> T* control(const QString& name, QWidget* in = nullptr) {
        T* found = (in ? in : form_)->findChild<T*>(name);
        if (found == nullptr) qFatal("no control %s", qPrintable(name));
        return found;
    }
    QString text(const QString& name) {
        if (auto* label = form_->findChild<QLabel*>(name)) return label->text();
        if (auto* spin = form_->findChild<QSpinBox*>(name)) return spin->text();
        return control<QLineEdit>(name)->text();
    }
    QString texts(std::initializer_list<const char*> names) {
        QStringList shown;
        for (const char* name : names)
            shown << text(name) + (control(name)->isEnabled() ? "" : "(off)");
        return shown.join(' ');
    }
    Picture& picture(const QString& name) { return control<TImage>(name)->picture(); }
    void click(const QString& name) { control<QAbstractButton>(name)->click(); }
    void setSpin(const QString& name, int value) { control<QSpinBox>(name)->setValue(value); }
    void open(const QString& button, const QString& path) {
        dialogs_.answers << path;
        click(button);
    }
    void openPair() {
        open("Button1", file(kNear));
        open("Button2", file(kFar));
    }
    CalibrationImage load(const QString& name) {
        CalibrationImage image;
        LoadCalibrationFrame(S(file(name)), image);
        return image;
    }
    double truth(const char* key, const char* inside = nullptr) {
        return (inside ? truth_.value(inside).toObject() : truth_).value(key).toDouble();
    }
    QString errors() { return dialogs_.errors.join("; "); }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        QCOMPARE(
            RunTool("merkanix-simulate", Quote(data_.path()) + " --calibration --seed 1").status,
            0);
        truth_ = QJsonDocument::fromJson(
                     QByteArray::fromStdString(testing::ReadBytes(data_ / "truth.json")))
                     .object();
    }
    void init() {
        start();
        UserDialogs::Install(&dialogs_);
    }
    void cleanup() { windows_.reset(); }
    void cleanupTestCase() { UserDialogs::Install(nullptr); }

    void eachCameraHasItsWindow() {
        for (int k = 1; k <= 3; ++k) {
            start(k);
            const QString name = QString("TCAM%1Form").arg(k);
            QCOMPARE(QString(form_->metaObject()->className()) + form_->objectName() +
                         form_->windowTitle(),
                     name + name + QString("Kalibrace CAM%1").arg(k));
            QCOMPARE(control<QSpinBox>("SpinEdit1")->maximum(), k == 1 ? 491 : 125);
            auto* pages = control<QTabWidget>("PageControl1");
            for (int page = 0; page < pages->count(); ++page) { // fits 1366 x 768 with a frame
                pages->setCurrentIndex(page);
                QVERIFY(form_->minimumSizeHint().width() <= 1366 &&
                        form_->minimumSizeHint().height() <= 730);
            }
            QVERIFY(form_->width() <= 1366 && form_->height() <= 730);
        }
        auto* pages = control<QTabWidget>("PageControl1");
        QCOMPARE(pages->tabText(0) + "|" + pages->tabText(1) + "|" + pages->tabText(2),
                 QString("Optický střed|Ohnisková vzdálenost|Sesazení podle etalonu"));
        // The defaults in the locale's number format, with their enabled states.
        QCOMPARE(texts({"Edit1", "Edit2", "Edit3", "Edit5", "StaticText38", "Edit6", "Edit4",
                        "Edit7", "Edit8", "RadiusLabeledEdit", "MagStaticText"}),
                 QString("0,000001 50 9 32 1024(off) 0,000001(off) 23(off) 327,5(off) "
                         "245,5(off) 1,020 "));
        QCOMPARE(texts({"SpinEdit1", "SpinEdit2", "SpinEdit5", "SpinEdit6", "PeriodSpinEdit"}),
                 QString("79 2 128(off) 128(off) 0"));
        QVERIFY(control<QRadioButton>("RadioButton1")->isChecked() &&
                !control<QRadioButton>("IterativeRadioButton")->isChecked() &&
                !control<QRadioButton>("ManualRadioButton")->isChecked());
        QVERIFY(picture("Image7").Empty() && picture("Image1").width == 656 &&
                picture("Image4").width == 1024);

        THistoForm& histo = windows_->histoForm;
        windows_->ShowAtStart();
        QVERIFY(!histo.isVisible() && histo.size() == QSize(323, 636));
        QCOMPARE(histo.windowTitle() + histo.objectName(), QString("HistoFormTHistoForm"));
        for (const char* box : {"HistoImage1", "HistoImage2"})
            QCOMPARE(control<TImage>(box, &histo)->size(), QSize(256, 256));
    }

    void opensImagesAndReadsTheirDistances() {
        const struct {
            const char *name, *label, *ds;
            bool farther; // the second image is the focal-length page's
        } rows[] = {{"Camera1_20080415_093013_000_30,00.tif", "30,00 mm", "5,000", true},
                    {"Camera1_20080415_093013_000_-05,25.tif", "-05,25 mm", "40,250", true},
                    {"Camera1_20080415_093013_000_35,00.tif", "35,00 mm", "0,000", false},
                    {"Camera1_20080415_093013.tif", "", "", true},
                    {"Camera1_20080415_093013_000_ab,cd.tif", "", "", true}};
        ScratchFolder folder;
        for (const auto& row : rows) {
            start();
            const QString second = Q(folder / row.name);
            std::filesystem::copy_file(S(file(kFar)), S(second));
            open("Button1", file(kNear));
            const Picture first = picture("Image5"); // the only image so far
            open("Button2", second);
            QCOMPARE(dialogs_.filters, (QStringList{".tif,.tiff (*.tif *.tiff)", ""}));
            QCOMPARE(texts({"RelativeShiftLabel1", "RelativeShiftLabel2", "dsStaticText"}),
                     QString("35,00 mm ") + row.label + " " + row.ds);
            Picture nearer, expected, corrected(656, 492), marked;
            DrawCalibrationImage(load(kNear), nearer);
            DrawCalibrationImage(load(kFar), expected);
            QVERIFY(picture("Image2").bgr == expected.bgr); // loaded even without a distance
            QVERIFY(picture("Image5").bgr == (row.farther ? expected.bgr : first.bgr));
            IlluminationCorrection(picture("Image5"), corrected, 79, 2);
            MarkColumns(corrected, 0, 0, marked);
            QVERIFY(picture("Image6").bgr == corrected.bgr && picture("Image7").bgr == marked.bgr);
            if (row.farther) QCOMPARE(text("RelativeShiftLabel3"), QString(row.label));

            // Cancelled, missing and unreadable files change nothing.
            for (const QString& name :
                 {QString(), Q(folder / "none.tif"), QString("/proc/self/mem")})
                open("Button1", name);
            QCOMPARE(dialogs_.errors.size(), 1); // the unreadable file's message
            QVERIFY(picture("Image1").bgr == nearer.bgr);
            QCOMPARE(text("RelativeShiftLabel1") + text("dsStaticText"),
                     "35,00 mm" + QString(row.ds));
            std::filesystem::remove(S(second));
        }
    }

    void upDownsSetTheirTexts() {
        const struct {
            const char *upDown, *edit;
            int steps;
            const char* shown;
        } rows[] = {{"UpDown1", "Edit3", 1, "11"},  {"UpDown1", "Edit3", 20, "25"},
                    {"UpDown1", "Edit3", -20, "3"}, {"UpDown3", "Edit5", -1, "16"},
                    {"UpDown3", "Edit5", -6, "0"},  {"UpDown3", "Edit5", -20, "0"},
                    {"UpDown3", "Edit5", 3, "32"}};
        for (const auto& row : rows) {
            start();
            for (int i = 0; i < std::abs(row.steps); ++i)
                row.steps > 0 ? control<TUpDown>(row.upDown)->StepUp()
                              : control<TUpDown>(row.upDown)->StepDown();
            QCOMPARE(text(row.edit), QString(row.shown));
        }
    }

    void findsTheCentreAndShowsItOnEveryPage() {
        openPair();
        // While the search waits the window repaints, the gauge moves and
        // nothing can start a second search or change its images.
        QList<int> gauge;
        bool blocked = true;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            gauge << control<QProgressBar>("Gauge")->value();
            for (const char* name : {"Button1", "Button2", "Button3"})
                blocked = blocked && !control(name)->isEnabled();
            click("Button3"); // disabled: nothing happens
        });
        watch.start(0);
        click("Button3");
        watch.stop();
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(errors()));
        QVERIFY(gauge.size() > 1 && *std::max_element(gauge.begin(), gauge.end()) > 50);
        QVERIFY(blocked && control("Button1")->isEnabled() && control("Button3")->isEnabled());

        CentreSearchResult want;
        QVERIFY(FindCentre(load(kNear), load(kFar), CentreSearchSettings{}, want));
        const CentreSearchTexts t = FormatCentreSearch(want, ',');
        QCOMPARE(texts({"MagStaticText", "RotStaticText", "MagRotQualityStaticText",
                        "TraQualityStaticText", "iterationsStaticText"}),
                 Q(t.magnification + ' ' + t.rotation + ' ' + t.rotationQuality + ' ' +
                   t.translationQuality + ' ' + t.passes));
        const std::string dx = t.dx + ' ' + t.dx, dy = t.dy + ' ' + t.dy;
        QCOMPARE(texts({"dxStaticText", "StaticText17", "dyStaticText", "StaticText19"}),
                 Q(dx + ' ' + dy));
        const std::string xc = t.xc + ' ' + t.xc + ' ' + t.xc, yc = t.yc + ' ' + t.yc + ' ' + t.yc;
        QCOMPARE(texts({"xcStaticText", "StaticText23", "StaticText21", "ycStaticText",
                        "StaticText25", "StaticText40"}),
                 Q(xc + ' ' + yc));
        QVERIFY(std::abs(want.centre.x - truth("xc")) < 5 &&
                std::abs(want.centre.y - truth("yc")) < 5);
        Picture overlay, surface;
        DrawOverlay(load(kNear), load(kFar), want, overlay);
        DrawSurface(want.surface, 1024, surface);
        QVERIFY(picture("Image3").bgr == overlay.bgr && picture("Image4").bgr == surface.bgr);
    }

    void searchRefusesQuietlyOrNamesTheBadField() {
        const struct {
            const char *edit, *value;
            bool secondImage;
            const char* error;
        } rows[] = {{"Edit1", "0,000001", false, ""},
                    {"Edit1", "0", true, ""},
                    {"Edit1", "-1E-6", true, ""},
                    {"Edit2", "0", true, ""},
                    {"Edit1", "abc", true, "'abc' is not a valid floating point value"},
                    {"Edit2", "1,5", true, "'1,5' is not a valid integer value"}};
        for (const auto& row : rows) {
            start();
            open("Button1", file(kNear));
            if (row.secondImage) open("Button2", file(kFar));
            control<QLineEdit>(row.edit)->setText(row.value);
            click("Button3");
            QCOMPARE(errors() + "|" + text("MagStaticText") + text("xcStaticText"),
                     QString(row.error) + "|");
        }
    }

    // Closing the window, or the whole program, while the search waits for
    // its workers neither crashes nor leaks (the sanitizer build checks).
    void searchSurvivesClosing() {
        for (int closing : {0, 1, 2}) {
            start();
            openPair();
            form_->show();
            QTimer::singleShot(0, this, [&] {
                QVERIFY(form_->Searching());
                if (closing == 0) form_->close();
                if (closing == 1) windows_->mainForm.close();
                if (closing == 2) windows_.reset();
            });
            QPushButton* search = control<QPushButton>("Button3");
            search->click();
            QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(errors()));
            if (closing == 2) continue; // gone with every window
            QVERIFY(!form_->Searching() && search->isEnabled());
            QVERIFY(!text("xcStaticText").isEmpty()); // finished behind the closed window
            QCOMPARE(form_->isVisible(), closing != 0);
        }
    }

    void focalPageFollowsItsControls() {
        openPair();
        const auto marked = [this](int c1, int c2) {
            Picture view;
            MarkColumns(picture("Image6"), c1, c2, view);
            return view.bgr;
        };
        setSpin("SpinEdit1", 31);
        Picture corrected(656, 492);
        IlluminationCorrection(picture("Image5"), corrected, 31, 2);
        QVERIFY(picture("Image6").bgr == corrected.bgr);
        control<QSlider>("TrackBar1")->setValue(100);
        setSpin("SpinEdit4", 175); // moves track bar 2
        QCOMPARE(texts({"SpinEdit3", "PeriodSpinEdit"}), QString("100 75"));
        QCOMPARE(control<QSlider>("TrackBar2")->value(), 175);
        QVERIFY(picture("Image7").bgr == marked(100, 175));

        click("Button4");
        Picture suppressed = picture("Image6");
        SuppressStripes(picture("Image6"), suppressed, 75);
        QVERIFY(picture("Image7").bgr == suppressed.bgr);
        control<QSlider>("TrackBar1")->setValue(102); // only the numbers follow
        QCOMPARE(control<QSpinBox>("PeriodSpinEdit")->value(), 73);
        QVERIFY(picture("Image7").bgr == suppressed.bgr);
        click("Button5");
        QVERIFY(picture("Image7").bgr == marked(102, 175));
        for (int period : {74, 0}) { // even or none: nothing to apply
            click("Button5");
            const std::vector<std::uint8_t> view = picture("Image7").bgr;
            setSpin("PeriodSpinEdit", period);
            click("Button4");
            control<QSlider>("TrackBar2")
                ->setValue(200 + period); // yet the stripes count as removed
            QVERIFY(picture("Image7").bgr == view);
        }

        click("IterativeRadioButton");
        QCOMPARE(texts({"SpinEdit5", "Edit6", "SpinEdit6"}), QString("128 0,000001 128(off)"));
        for (int t0 : {128, 60}) {
            setSpin("SpinEdit5", t0);
            Picture binary(656, 492);
            const double tf = registration::IterativeThreshold(picture("Image7"), binary, 1e-6, t0);
            QCOMPARE(text("StaticText37"), Q(FormatFixed(tf, 3, ',')));
            QVERIFY(picture("Image8").bgr == binary.bgr);
        }
        click("ManualRadioButton");
        QCOMPARE(texts({"SpinEdit5", "Edit6", "SpinEdit6"}), QString("60(off) 0,000001(off) 128"));
        for (int t : {128, 90}) {
            setSpin("SpinEdit6", t);
            Picture binary;
            ThresholdPicture(picture("Image7"), t, binary);
            QVERIFY(picture("Image8").bgr == binary.bgr);
        }
        // Before any image the thresholds have no view to work on.
        start();
        click("ManualRadioButton");
        setSpin("SpinEdit6", 40);
        click("Button5");
        QVERIFY(picture("Image8").Empty() && picture("Image7").Empty());
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(errors()));
    }

    // One search serves every row: each row sets a field, then "HLEDAT".
    void findsTheFocalLength() {
        openPair();
        click("Button6"); // neither centre nor threshold yet
        click("Button3");
        click("Button6"); // still no threshold
        QCOMPARE(text("mmStaticText"), QString());
        control<QSlider>("TrackBar1")->setValue(100);
        control<QSlider>("TrackBar2")->setValue(175);
        click("Button4");
        const QString ds = text("dsStaticText"), dy = text("dyStaticText");
        const struct {
            const char *field, *value, *error; // a field changed before "HLEDAT"
            bool focalLengthKept;
        } rows[] = {{"", "", "", false},
                    {"dsStaticText", "", "'' is not a valid floating point value", true},
                    {"dyStaticText", "0", "Floating point division by zero", true},
                    {"SpinEdit6", "0", "", false}}; // no lines
        for (const auto& row : rows) {
            const QString field = row.field;
            dialogs_.errors.clear();
            click("IterativeRadioButton");
            control<QLabel>("dsStaticText")->setText(ds);
            control<QLabel>("dyStaticText")->setText(dy);
            for (const char* shown : {"FocalLengthStaticText", "StaticText43"})
                control<QLabel>(shown)->setText("before");
            if (field == "SpinEdit6") click("ManualRadioButton");
            if (field == "SpinEdit6") setSpin(field, 0);
            if (field.startsWith("d")) control<QLabel>(field)->setText(row.value);
            click("Button6");

            FocalLengthTexts want;
            try {
                FindFocalLengthTexts(picture("Image8"), S(text("xcStaticText")),
                                     S(text("ycStaticText")), S(text("dsStaticText")),
                                     S(text("dyStaticText")), ',', want);
            } catch (const std::exception&) {
            }
            // The millimetre size is shown even when the focal length fails.
            const QString f = row.focalLengthKept ? QString("before") : Q(want.focalLength);
            QCOMPARE(field + ": " + errors() + "|" +
                         texts({"mmStaticText", "FocalLengthStaticText", "StaticText43"}),
                     field + ": " + row.error + "|" + Q(want.millimetre) + ' ' + f + ' ' + f);
            if (field.isEmpty()) // the simulated camera's focal length, within 5 %
                QVERIFY2(std::abs(ParseReal(S(f), ',') / truth("f") - 1) < 0.05, qPrintable(f));
            if (field == "SpinEdit6") QCOMPARE(f, QString("NAN"));
        }
    }

    void measuresTheEtalon() {
        click("RadioButton2");
        QCOMPARE(texts({"Edit4", "Edit7"}), QString("23 327,5"));
        open("Button7", file(kEtalon));
        Picture frame(656, 492);
        LoadFrame(S(file(kEtalon)), frame);
        EtalonTexts want;
        MeasureEtalon(frame, "CAM1", "23", "327,5", "245,5", "1,020", ',', want);
        QCOMPARE(texts({"StaticText45", "StaticText49", "StaticText51", "StaticText55"}),
                 Q(want.top + ' ' + want.bottom + ' ' + want.x + ' ' + want.y));
        QVERIFY(picture("Image9").bgr == frame.bgr);
        const std::uint8_t* centre = picture("Image9").Pixel(328, 246); // 327.5, 245.5 to even
        QCOMPARE(centre[0] * 0x10000 + centre[1] * 0x100 + centre[2], 0xFF0000);

        // The simulated camera's own parameters place it where it stands.
        control<QLineEdit>("Edit7")->setText(Q(FormatGeneral(truth("xc"), ',')));
        control<QLineEdit>("Edit8")->setText(Q(FormatGeneral(truth("yc"), ',')));
        open("Button7", file(kEtalon));
        QVERIFY(std::abs(ParseReal(S(text("StaticText51")), ',') - truth("x", "etalon")) < 0.5 &&
                std::abs(ParseReal(S(text("StaticText55")), ',') - truth("y", "etalon")) < 0.5);
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(errors()));
        click("RadioButton1");
        QVERIFY(!control("Edit4")->isEnabled() && !control("Edit8")->isEnabled());

        // Failures: nothing opened, or the edges shown and the position kept.
        ScratchFolder folder;
        testing::WriteFrame(folder / "step.tif", testing::BandSamples(200, 492)); // u = l
        const struct {
            const char *edit, *value;
            QString path;
            const char *position, *error;
        } rows[] = {{"", "", "", "kept", ""},
                    {"", "", Q(folder / "none.tif"), "kept", ""},
                    {"RadiusLabeledEdit", "abc", file(kEtalon), "kept",
                     "'abc' is not a valid floating point value"},
                    {"Edit4", "0", file(kEtalon), "0 0", ""}, // out of range: from (0, 0)
                    {"", "", Q(folder / "step.tif"), "kept", "Floating point division by zero"}};
        for (const auto& row : rows) {
            start();
            click("RadioButton2");
            for (const char* field : {"StaticText45", "StaticText51", "StaticText55"})
                control<QLabel>(field)->setText("kept");
            if (*row.edit) control<QLineEdit>(row.edit)->setText(row.value);
            open("Button7", row.path);
            const bool opened = row.path.endsWith(".tif") && !row.path.endsWith("none.tif");
            QCOMPARE(errors() + "|" + (text("StaticText45") == "kept" ? "closed" : "opened"),
                     QString(row.error) + "|" + (opened ? "opened" : "closed"));
            QCOMPARE(text("StaticText51") +
                         (QString(row.position) == "kept" ? "" : " " + text("StaticText55")),
                     QString(row.position));
        }
    }

    void handsTheTextsToTheMainWindow() {
        for (int k = 1; k <= 3; ++k)
            for (bool own : {false, true}) {
                start(k);
                form_->show();
                QStringList expected = {"", "", "", "", ""}; // nothing found yet: empty texts
                if (own) {
                    click("RadioButton2");
                    control<QLineEdit>("Edit7")->setText("318,4");
                    open("Button7", file(kEtalon));
                    expected = QStringList{"23", "318,4", "245,5", text("StaticText51"),
                                           text("StaticText55")};
                }
                click("Button8");
                QStringList got;
                for (const char* quantity : {"f", "xc", "yc", "x", "y"})
                    got << control<QLineEdit>(QString("%1%2Edit").arg(quantity).arg(k),
                                              &windows_->mainForm)
                               ->text();
                QCOMPARE(got, expected);
                QVERIFY(windows_->mainForm.isVisible() && !form_->isVisible());
                QCOMPARE(control<QLineEdit>(QString("f%1Edit").arg(k % 3 + 1), &windows_->mainForm)
                             ->text(),
                         QString("23")); // the other cameras keep theirs
            }
    }

    void scriptedRunSavesEveryPage() {
        ScratchFolder folder;
        const std::string options = " --image1 " + Quote(S(file(kNear))) + " --image2 " +
                                    Quote(S(file(kFar))) + " --stripes 100,175 --etalon " +
                                    Quote(S(file(kEtalon))) + " --screenshot " +
                                    Quote(folder / "page.png");
        QCOMPARE(RunTool("merkanix", "--calibration 2" + options).status, 0);
        for (int page = 1; page <= 3; ++page) {
            const QImage shot(Q(folder / ("page-" + std::to_string(page) + ".png")));
            QVERIFY(shot.width() > 1000 && shot.width() <= 1366 && shot.height() <= 730);
        }
        const auto bad = RunTool("merkanix", "--calibration 4" + options);
        QVERIFY(bad.status == 2 && Q(bad.err).contains("no camera 4"));
        const auto failing = RunTool("merkanix", "--calibration 1 --stripes 100 --screenshot " +
                                                     Quote(folder / "x.png"));
        QVERIFY(failing.status == 1 && Q(failing.err).contains("two columns"));
    }
};

QTEST_MAIN(CalibrationFormTest)
#include "CalibrationFormTest.moc"
