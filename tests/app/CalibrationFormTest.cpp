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
    TCalibrationForm* form_ = nullptr; // camera 1's window unless a test picks another

    QString file(const QString& name) const { return Q(data_ / S(name)); }
    template <typename T = QWidget> T* control(const QString& name, QWidget* in = nullptr) {
        T* found = (in ? in : form_)->findChild<T*>(name);
        if (found == nullptr) qFatal("no control %s", qPrintable(name));
        return found;
    }
    QString text(const QString& name) {
        if (auto* label = form_->findChild<QLabel*>(name)) return label->text();
        return control<QLineEdit>(name)->text();
    }
    Picture& picture(const QString& name) { return control<TImage>(name)->picture(); }
    void click(const QString& name) { control<QAbstractButton>(name)->click(); }
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
    double truth(const char* key) { return truth_.value(key).toDouble(); }
    void expectNoErrors() {
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(dialogs_.errors.join("; ")));
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        QCOMPARE(
            RunTool("merkanix-simulate", Quote(data_.path()) + " --calibration --seed 1").status,
            0);
        truth_ = QJsonDocument::fromJson(
                     QByteArray::fromStdString(testing::ReadBytes(data_ / "truth.json")))
                     .object();
        QVERIFY(std::filesystem::exists(S(file(kNear))) &&
                std::filesystem::exists(S(file(kEtalon))));
    }
    void init() {
        dialogs_ = {};
        UserDialogs::Install(&dialogs_);
        windows_ = std::make_unique<ApplicationWindows>();
        form_ = &windows_->cam1Form;
    }
    void cleanup() { windows_.reset(); }
    void cleanupTestCase() { UserDialogs::Install(nullptr); }

    void eachCameraHasItsWindow_data() {
        QTest::addColumn<int>("camera");
        QTest::addColumn<int>("largestKernel");
        QTest::newRow("CAM1") << 1 << 491;
        QTest::newRow("CAM2") << 2 << 125;
        QTest::newRow("CAM3") << 3 << 125;
    }
    void eachCameraHasItsWindow() {
        QFETCH(int, camera);
        QFETCH(int, largestKernel);
        TCalibrationForm* forms[3] = {&windows_->cam1Form, &windows_->cam2Form,
                                      &windows_->cam3Form};
        form_ = forms[camera - 1];
        const QString name = QString("TCAM%1Form").arg(camera);
        QCOMPARE(QString(form_->metaObject()->className()) + form_->objectName(), name + name);
        QCOMPARE(form_->windowTitle(), QString("Kalibrace CAM%1").arg(camera));
        QCOMPARE(control<QSpinBox>("SpinEdit1")->maximum(), largestKernel);

        auto* pages = control<QTabWidget>("PageControl1");
        QStringList titles;
        for (int page = 0; page < pages->count(); ++page)
            titles << pages->tabText(page);
        QCOMPARE(titles,
                 (QStringList{"Optický střed", "Ohnisková vzdálenost", "Sesazení podle etalonu"}));
        // The defaults in the locale's number format, with their enabled states.
        const struct {
            const char* name;
            const char* text;
            bool enabled;
        } defaults[] = {{"Edit1", "0,000001", true},
                        {"Edit2", "50", true},
                        {"Edit3", "9", true},
                        {"Edit5", "32", true},
                        {"StaticText38", "1024", false},
                        {"Edit6", "0,000001", false},
                        {"Edit4", "23", false},
                        {"Edit7", "327,5", false},
                        {"Edit8", "245,5", false},
                        {"RadiusLabeledEdit", "1,020", true},
                        {"MagStaticText", "", true},
                        {"StaticText43", "", true}};
        for (const auto& d : defaults) {
            QCOMPARE(text(d.name), QString(d.text));
            QCOMPARE(control(d.name)->isEnabled(), d.enabled);
        }
        const struct {
            const char* name;
            int value;
            bool enabled;
        } spins[] = {{"SpinEdit1", 79, true},
                     {"SpinEdit2", 2, true},
                     {"SpinEdit5", 128, false},
                     {"SpinEdit6", 128, false},
                     {"PeriodSpinEdit", 0, true}};
        for (const auto& s : spins)
            QCOMPARE(std::pair(control<QSpinBox>(s.name)->value(), control(s.name)->isEnabled()),
                     std::pair(s.value, s.enabled));
        QVERIFY(control<QRadioButton>("RadioButton1")->isChecked());
        QVERIFY(!control<QRadioButton>("IterativeRadioButton")->isChecked() &&
                !control<QRadioButton>("ManualRadioButton")->isChecked());
        QVERIFY(picture("Image7").Empty() && picture("Image1").width == 656);
        QCOMPARE(picture("Image4").width, 1024);

        // Every page fits a 1366 x 768 screen with room for the window's frame.
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            QVERIFY(form_->minimumSizeHint().width() <= 1366 &&
                    form_->minimumSizeHint().height() <= 730);
        }
        QVERIFY(form_->width() <= 1366 && form_->height() <= 730);
    }

    void histogramWindowHasItsLayoutAndStaysHidden() {
        THistoForm& histo = windows_->histoForm;
        windows_->ShowAtStart();
        QVERIFY(!histo.isVisible());
        QCOMPARE(histo.windowTitle() + histo.objectName(), QString("HistoFormTHistoForm"));
        QCOMPARE(histo.size(), QSize(323, 636));
        for (const char* name : {"HistoImage1", "HistoImage2"})
            QCOMPARE(control<TImage>(name, &histo)->size(), QSize(256, 256));
    }

    void opensImagesAndReadsTheirDistances_data() {
        QTest::addColumn<QString>("secondName");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("ds");
        QTest::addColumn<bool>("secondIsFarther");
        QTest::newRow("reading") << kFar << "30,00 mm"
                                 << "5,000" << true;
        QTest::newRow("negative reading, six characters")
            << "Camera1_20080415_093013_000_-05,25.tif"
            << "-05,25 mm"
            << "40,250" << true;
        QTest::newRow("equal readings") << kNear << "35,00 mm"
                                        << "0,000" << false;
        QTest::newRow("short name") << "Camera1_20080415_093013.tif"
                                    << ""
                                    << "" << true;
        QTest::newRow("no number") << "Camera1_20080415_093013_000_ab,cd.tif"
                                   << ""
                                   << "" << true;
    }
    void opensImagesAndReadsTheirDistances() {
        QFETCH(QString, secondName);
        QFETCH(QString, label);
        QFETCH(QString, ds);
        QFETCH(bool, secondIsFarther);
        ScratchFolder folder;
        const QString second = Q(folder / S(secondName));
        std::filesystem::copy_file(S(file(kFar)), S(second));

        open("Button1", file(kNear));
        const Picture first = picture("Image5"); // only image 1 is loaded: it is the farther
        open("Button2", second);
        expectNoErrors();
        QCOMPARE(dialogs_.filters, (QStringList{".tif,.tiff (*.tif *.tiff)", ""}));
        QCOMPARE(text("RelativeShiftLabel1") + "|" + text("RelativeShiftLabel2") + "|" +
                     text("dsStaticText"),
                 "35,00 mm|" + label + "|" + ds);
        Picture expected;
        DrawCalibrationImage(load(kFar), expected);
        QVERIFY(picture("Image2").bgr == expected.bgr); // a name without distance still loads
        // The focal-length page works on the farther image: corrected and marked.
        QVERIFY(picture("Image5").bgr == (secondIsFarther ? expected.bgr : first.bgr));
        Picture corrected(656, 492), marked;
        IlluminationCorrection(picture("Image5"), corrected, 79, 2);
        MarkColumns(corrected, 0, 0, marked);
        QVERIFY(picture("Image6").bgr == corrected.bgr && picture("Image7").bgr == marked.bgr);
        if (secondIsFarther) QCOMPARE(text("RelativeShiftLabel3"), label);

        // Cancelled, missing and unreadable files change nothing.
        const Picture before = picture("Image1");
        for (const QString& name :
             {QString(), Q(folder / "missing.tif"), QString("/proc/self/mem")})
            open("Button1", name);
        QCOMPARE(dialogs_.errors.size(), 1); // the unreadable file's message
        QVERIFY(picture("Image1").bgr == before.bgr);
        QCOMPARE(text("RelativeShiftLabel1") + text("dsStaticText"), "35,00 mm" + ds);
    }

    void upDownsSetTheirTexts_data() {
        QTest::addColumn<QString>("upDown");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("shown");
        QTest::newRow("window up") << "UpDown1" << 1 << "Edit3"
                                   << "11";
        QTest::newRow("window at its top") << "UpDown1" << 20 << "Edit3"
                                           << "25";
        QTest::newRow("window at its bottom") << "UpDown1" << -20 << "Edit3"
                                              << "3";
        QTest::newRow("low-pass down") << "UpDown3" << -1 << "Edit5"
                                       << "16";
        QTest::newRow("low-pass off") << "UpDown3" << -6 << "Edit5"
                                      << "0";
        QTest::newRow("low-pass off at the bottom") << "UpDown3" << -20 << "Edit5"
                                                    << "0";
        QTest::newRow("low-pass at its top") << "UpDown3" << 3 << "Edit5"
                                             << "32";
    }
    void upDownsSetTheirTexts() {
        QFETCH(QString, upDown);
        QFETCH(int, steps);
        QFETCH(QString, edit);
        QFETCH(QString, shown);
        auto* arrows = control<TUpDown>(upDown);
        for (int i = 0; i < std::abs(steps); ++i)
            steps > 0 ? arrows->StepUp() : arrows->StepDown();
        QCOMPARE(text(edit), shown);
        QVERIFY(control<QLineEdit>(edit)->isReadOnly());
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
        expectNoErrors();
        QVERIFY2(gauge.size() > 1 && *std::max_element(gauge.begin(), gauge.end()) > 50,
                 qPrintable(QString::number(gauge.size())));
        QVERIFY(blocked && control("Button1")->isEnabled() && control("Button3")->isEnabled());

        CentreSearchResult want;
        QVERIFY(FindCentre(load(kNear), load(kFar), CentreSearchSettings{}, want));
        const CentreSearchTexts t = FormatCentreSearch(want, ',');
        const struct {
            std::string expected;
            std::vector<const char*> fields;
        } shown[] = {{t.magnification, {"MagStaticText"}},
                     {t.rotation, {"RotStaticText"}},
                     {t.rotationQuality, {"MagRotQualityStaticText"}},
                     {t.dx, {"dxStaticText", "StaticText17"}},
                     {t.dy, {"dyStaticText", "StaticText19"}},
                     {t.translationQuality, {"TraQualityStaticText"}},
                     {t.passes, {"iterationsStaticText"}},
                     {t.xc, {"xcStaticText", "StaticText23", "StaticText21"}},
                     {t.yc, {"ycStaticText", "StaticText25", "StaticText40"}}};
        for (const auto& s : shown)
            for (const char* field : s.fields)
                QCOMPARE(text(field), Q(s.expected));
        QVERIFY(std::abs(want.centre.x - truth("xc")) < 5 &&
                std::abs(want.centre.y - truth("yc")) < 5);
        Picture overlay, surface;
        DrawOverlay(load(kNear), load(kFar), want, overlay);
        DrawSurface(want.surface, 1024, surface);
        QVERIFY(picture("Image3").bgr == overlay.bgr && picture("Image4").bgr == surface.bgr);
    }

    void searchRefusesQuietlyOrNamesTheBadField_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("secondImage");
        QTest::addColumn<QString>("error");
        QTest::newRow("no second image") << "Edit1"
                                         << "0,000001" << false << "";
        QTest::newRow("zero precision") << "Edit1"
                                        << "0" << true << "";
        QTest::newRow("negative precision") << "Edit1"
                                            << "-1E-6" << true << "";
        QTest::newRow("no pass") << "Edit2"
                                 << "0" << true << "";
        QTest::newRow("precision not a number")
            << "Edit1"
            << "abc" << true << "'abc' is not a valid floating point value";
        QTest::newRow("passes not an integer")
            << "Edit2"
            << "1,5" << true << "'1,5' is not a valid integer value";
    }
    void searchRefusesQuietlyOrNamesTheBadField() {
        QFETCH(QString, edit);
        QFETCH(QString, value);
        QFETCH(bool, secondImage);
        QFETCH(QString, error);
        open("Button1", file(kNear));
        if (secondImage) open("Button2", file(kFar));
        control<QLineEdit>(edit)->setText(value);
        click("Button3");
        QCOMPARE(dialogs_.errors, error.isEmpty() ? QStringList{} : QStringList{error});
        QCOMPARE(text("MagStaticText") + text("xcStaticText"), QString());
        QVERIFY(control("Button3")->isEnabled());
    }

    // Closing the window, or the whole program, while the search waits for
    // its workers neither crashes nor leaves the search running.
    void searchSurvivesClosing_data() {
        QTest::addColumn<int>("closing");
        QTest::newRow("the calibration window") << 0;
        QTest::newRow("the main window") << 1;
        QTest::newRow("every window destroyed") << 2;
    }
    void searchSurvivesClosing() {
        QFETCH(int, closing);
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
        expectNoErrors();
        if (closing == 2) {
            QVERIFY(windows_ == nullptr);
            return;
        }
        QVERIFY(!form_->Searching() && search->isEnabled());
        QVERIFY(!text("xcStaticText").isEmpty()); // it finished behind the closed window
        QCOMPARE(form_->isVisible(), closing != 0);
    }

    void focalPageFollowsItsControls() {
        openPair();
        const auto marked = [this](int c1, int c2) {
            Picture view;
            MarkColumns(picture("Image6"), c1, c2, view);
            return view.bgr;
        };
        control<QSpinBox>("SpinEdit1")->setValue(31);
        Picture corrected(656, 492);
        IlluminationCorrection(picture("Image5"), corrected, 31, 2);
        QVERIFY(picture("Image6").bgr == corrected.bgr);

        control<QSlider>("TrackBar1")->setValue(100);
        control<QSpinBox>("SpinEdit4")->setValue(175); // moves track bar 2
        QCOMPARE(std::pair(control<QSlider>("TrackBar2")->value(),
                           control<QSpinBox>("SpinEdit3")->value()),
                 std::pair(175, 100));
        QCOMPARE(control<QSpinBox>("PeriodSpinEdit")->value(), 75);
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
            control<QSpinBox>("PeriodSpinEdit")->setValue(period);
            click("Button4");
            control<QSlider>("TrackBar2")
                ->setValue(200 + period); // yet the stripes count as removed
            QVERIFY(picture("Image7").bgr == view);
        }

        // Thresholds of the view, with their controls' states.
        click("IterativeRadioButton");
        QVERIFY(control("SpinEdit5")->isEnabled() && control("Edit6")->isEnabled() &&
                !control("SpinEdit6")->isEnabled());
        for (int t0 : {128, 60}) {
            control<QSpinBox>("SpinEdit5")->setValue(t0);
            Picture binary(656, 492);
            const double tf = registration::IterativeThreshold(picture("Image7"), binary, 1e-6, t0);
            QCOMPARE(text("StaticText37"), Q(FormatFixed(tf, 3, ',')));
            QVERIFY(picture("Image8").bgr == binary.bgr);
        }
        click("ManualRadioButton");
        QVERIFY(!control("SpinEdit5")->isEnabled() && !control("Edit6")->isEnabled() &&
                control("SpinEdit6")->isEnabled());
        for (int t : {128, 90}) {
            control<QSpinBox>("SpinEdit6")->setValue(t);
            Picture binary;
            ThresholdPicture(picture("Image7"), t, binary);
            QVERIFY(picture("Image8").bgr == binary.bgr);
        }
        expectNoErrors();
    }

    void thresholdsWaitForAView() {
        click("ManualRadioButton");
        control<QSpinBox>("SpinEdit6")->setValue(40);
        click("Button5");
        QVERIFY(picture("Image8").Empty() && picture("Image7").Empty());
        expectNoErrors();
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
            const char* name;
            const char* field; // changed before "HLEDAT"
            const char* value;
            const char* error;
            bool focalLengthKept;
        } rows[] = {{"as found", "", "", "", false},
                    {"no stage difference", "dsStaticText", "",
                     "'' is not a valid floating point value", true},
                    {"no row shift", "dyStaticText", "0", "Floating point division by zero", true},
                    {"no lines", "SpinEdit6", "0", "", false}};
        for (const auto& row : rows) {
            const QString field = row.field, name = QString(row.name) + ": ";
            dialogs_.errors.clear();
            click("IterativeRadioButton");
            control<QLabel>("dsStaticText")->setText(ds);
            control<QLabel>("dyStaticText")->setText(dy);
            for (const char* shown : {"FocalLengthStaticText", "StaticText43"})
                control<QLabel>(shown)->setText("before");
            if (field == "SpinEdit6") {
                click("ManualRadioButton");
                control<QSpinBox>(field)->setValue(QString(row.value).toInt());
            } else if (!field.isEmpty()) {
                control<QLabel>(field)->setText(row.value);
            }
            click("Button6");
            QCOMPARE(name + dialogs_.errors.join(""), name + row.error);

            FocalLengthTexts want;
            try {
                FindFocalLengthTexts(picture("Image8"), S(text("xcStaticText")),
                                     S(text("ycStaticText")), S(text("dsStaticText")),
                                     S(text("dyStaticText")), ',', want);
            } catch (const std::exception&) {
            }
            // The millimetre size is shown even when the focal length fails.
            const QString f = row.focalLengthKept ? QString("before") : Q(want.focalLength);
            QCOMPARE(name + text("mmStaticText") + "|" + text("FocalLengthStaticText") + "|" +
                         text("StaticText43"),
                     name + Q(want.millimetre) + "|" + f + "|" + f);
            if (field.isEmpty()) // the simulated camera's focal length, within 5 %
                QVERIFY2(std::abs(ParseReal(S(f), ',') / truth("f") - 1) < 0.05, qPrintable(f));
            if (field == "SpinEdit6") QCOMPARE(f, QString("NAN"));
        }
    }

    void measuresTheEtalon() {
        click("RadioButton2");
        QVERIFY(control("Edit4")->isEnabled() && control("Edit8")->isEnabled());
        open("Button7", file(kEtalon));
        expectNoErrors();
        Picture frame(656, 492);
        LoadFrame(S(file(kEtalon)), frame);
        EtalonTexts want;
        MeasureEtalon(frame, "CAM1", "23", "327,5", "245,5", "1,020", ',', want);
        QCOMPARE(text("StaticText45") + text("StaticText49") + text("StaticText51") +
                     text("StaticText55"),
                 Q(want.top + want.bottom + want.x + want.y));
        QVERIFY(picture("Image9").bgr == frame.bgr);
        const std::uint8_t* centre = picture("Image9").Pixel(328, 246); // 327.5, 245.5 to even
        QCOMPARE(centre[0] * 0x10000 + centre[1] * 0x100 + centre[2], 0xFF0000);

        // The simulated camera's own parameters place it where it stands.
        control<QLineEdit>("Edit7")->setText(Q(FormatGeneral(truth("xc"), ',')));
        control<QLineEdit>("Edit8")->setText(Q(FormatGeneral(truth("yc"), ',')));
        open("Button7", file(kEtalon));
        const QJsonObject etalon = truth_.value("etalon").toObject();
        QVERIFY(std::abs(ParseReal(S(text("StaticText51")), ',') - etalon.value("x").toDouble()) <
                0.5);
        QVERIFY(std::abs(ParseReal(S(text("StaticText55")), ',') - etalon.value("y").toDouble()) <
                0.5);
        click("RadioButton1");
        QVERIFY(!control("Edit4")->isEnabled() && !control("Edit7")->isEnabled());
    }

    void etalonFailures_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("frame"); // "" the simulated etalon, "step" equal edges
        QTest::addColumn<QString>("position");
        QTest::addColumn<QString>("error");
        QTest::newRow("cancelled") << ""
                                   << ""
                                   << "cancel"
                                   << "keep"
                                   << "";
        QTest::newRow("missing file") << ""
                                      << ""
                                      << "missing"
                                      << "keep"
                                      << "";
        QTest::newRow("diameter not a number") << "RadiusLabeledEdit"
                                               << "abc"
                                               << ""
                                               << "keep"
                                               << "'abc' is not a valid floating point value";
        QTest::newRow("focal length out of range") << "Edit4"
                                                   << "0"
                                                   << ""
                                                   << "00"
                                                   << "";
        QTest::newRow("equal edges") << ""
                                     << ""
                                     << "step"
                                     << "keep"
                                     << "Floating point division by zero";
    }
    void etalonFailures() {
        QFETCH(QString, edit);
        QFETCH(QString, value);
        QFETCH(QString, frame);
        QFETCH(QString, position);
        QFETCH(QString, error);
        ScratchFolder folder;
        testing::WriteFrame(folder / "step.tif", testing::BandSamples(200, 492));
        click("RadioButton2");
        control<QLabel>("StaticText51")->setText("kept");
        control<QLabel>("StaticText45")->setText("kept");
        if (!edit.isEmpty()) control<QLineEdit>(edit)->setText(value);
        const QString path = frame == "cancel"    ? QString()
                             : frame == "missing" ? Q(folder / "missing.tif")
                             : frame == "step"    ? Q(folder / "step.tif")
                                                  : file(kEtalon);
        open("Button7", path);
        QCOMPARE(dialogs_.errors, error.isEmpty() ? QStringList{} : QStringList{error});
        const bool opened = frame != "cancel" && frame != "missing";
        QCOMPARE(text("StaticText45") == "kept", !opened); // edges shown whenever it opened
        const QString shown =
            text("StaticText51") + (position == "keep" ? "" : text("StaticText55"));
        QCOMPARE(shown, position == "keep" ? QString("kept") : position);
    }

    void handsTheTextsToTheMainWindow_data() {
        QTest::addColumn<int>("camera");
        QTest::addColumn<bool>("own");
        for (int camera = 1; camera <= 3; ++camera) {
            QTest::addRow("CAM%d before any step", camera) << camera << false;
            QTest::addRow("CAM%d own values", camera) << camera << true;
        }
    }
    void handsTheTextsToTheMainWindow() {
        QFETCH(int, camera);
        QFETCH(bool, own);
        TCalibrationForm* forms[3] = {&windows_->cam1Form, &windows_->cam2Form,
                                      &windows_->cam3Form};
        form_ = forms[camera - 1];
        form_->show();
        QStringList expected = {"", "", "", "", ""}; // nothing found yet: empty texts
        if (own) {
            click("RadioButton2");
            control<QLineEdit>("Edit7")->setText("318,4");
            open("Button7", file(kEtalon));
            expected =
                QStringList{"23", "318,4", "245,5", text("StaticText51"), text("StaticText55")};
        }
        click("Button8");
        expectNoErrors();
        QStringList got;
        for (const char* quantity : {"f", "xc", "yc", "x", "y"})
            got << control<QLineEdit>(QString("%1%2Edit").arg(quantity).arg(camera),
                                      &windows_->mainForm)
                       ->text();
        QCOMPARE(got, expected);
        QVERIFY(windows_->mainForm.isVisible() && !form_->isVisible());
        // The other cameras' fields keep their start values.
        const int other = camera % 3 + 1;
        QCOMPARE(control<QLineEdit>(QString("f%1Edit").arg(other), &windows_->mainForm)->text(),
                 QString("23"));
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
