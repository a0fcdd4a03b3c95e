// The calibration windows driven by control name on the offscreen platform,
// under a Czech locale, on simulated millimetre paper and etalon frames.
#include "app/ApplicationWindows.h"
#include "app/ImageBox.h"
#include "app/UpDown.h"
#include "app/UserDialogs.h"
#include "calibration/CalibrationSteps.h"
#include "common/NumberText.h"
#include "registration/HistoUnit.h"
#include "support/QueuedDialogs.h"
#include "support/RunCommand.h"

#include <QCheckBox>
#include <QJsonArray>
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
using merkanix::testing::QueuedDialogs;
using merkanix::testing::Quote;
using merkanix::testing::ScratchFolder;

namespace {

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
    // The texts of a row of fields, "(off)" after a disabled one.
    QString texts(std::initializer_list<const char*> names) {
        QStringList shown;
        for (const char* name : names)
            shown << text(name) + (control(name)->isEnabled() ? "" : "(off)");
        return shown.join(' ');
    }
    double number(const char* name) { return ParseReal(S(text(name)), ','); }
    void setText(const char* name, const QString& text) {
        if (auto* label = form_->findChild<QLabel*>(name)) return label->setText(text);
        control<QLineEdit>(name)->setText(text);
    }
    void set(const char* name, int value) { // a spin edit or a track bar
        if (auto* spin = form_->findChild<QSpinBox*>(name)) return spin->setValue(value);
        control<QSlider>(name)->setValue(value);
    }
    Picture& picture(const QString& name) { return control<TImage>(name)->picture(); }
    Picture drawn(const QString& frame) { // a calibration frame as its image box shows it
        CalibrationImage image;
        LoadCalibrationFrame(S(file(frame)), image);
        Picture box;
        DrawCalibrationImage(image, box);
        return box;
    }
    void click(const QString& name) { control<QAbstractButton>(name)->click(); }
    void open(const QString& button, const QString& path) {
        dialogs_.answers << path;
        click(button);
    }
    void openPair() {
        open("Button1", file(kNear));
        open("Button2", file(kFar));
    }
    double truth(const char* key) { return truth_.value(key).toDouble(); }
    QString errors() { return dialogs_.errors.join("; "); }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        const std::string simulate = Quote(data_.path()) + " --calibration --seed 1";
        QCOMPARE(testing::RunTool("merkanix-simulate", simulate).status, 0);
        truth_ =
            QJsonDocument::fromJson(Q(testing::ReadBytes(data_ / "truth.json")).toUtf8()).object();
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
            QCOMPARE(form_->metaObject()->className() + form_->objectName() + form_->windowTitle(),
                     name + name + QString("Kalibrace CAM%1").arg(k));
            QCOMPARE(control<QSpinBox>("SpinEdit1")->maximum(), k == 1 ? 491 : 125);
        }
        auto* pages = control<QTabWidget>("PageControl1");
        for (int page = 0; page < 3; ++page) { // each page fits 1366 x 768 with the frame
            pages->setCurrentIndex(page);
            const QSize least = form_->minimumSizeHint();
            QVERIFY(least.width() <= 1366 && least.height() <= 730);
        }
        QVERIFY(form_->width() <= 1366 && form_->height() <= 730);
        QVERIFY(picture("Image7").Empty() && picture("Image4").width == 1024);

        windows_->ShowAtStart(); // the histogram window is never shown
        QVERIFY(!windows_->histoForm.isVisible() && !form_->isVisible());
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
        const Picture nearer = drawn(kNear), farther = drawn(kFar);
        for (const auto& row : rows) {
            start();
            const QString second = Q(folder / row.name);
            std::filesystem::copy_file(S(file(kFar)), S(second));
            open("Button1", file(kNear));
            if (!*row.ds) open("Button2", file(kFar)); // whose distance must not linger
            open("Button2", second);
            QCOMPARE(texts({"RelativeShiftLabel1", "RelativeShiftLabel2", "dsStaticText"}),
                     QString("35,00 mm ") + row.label + " " + row.ds);
            QVERIFY(picture("Image2").bgr == farther.bgr); // loaded even without a distance
            QVERIFY(picture("Image5").bgr == (row.farther ? farther : nearer).bgr);
            if (row.farther) QCOMPARE(text("RelativeShiftLabel3"), QString(row.label));
            std::filesystem::remove(S(second));
        }
        QCOMPARE(dialogs_.filters.first() + "|" + dialogs_.filters.last(),
                 QString(".tif,.tiff (*.tif *.tiff)|")); // image 2's dialog has none
        // The focal-length page is refreshed: corrected, then marked at columns 0.
        Picture corrected(656, 492), marked;
        IlluminationCorrection(picture("Image5"), corrected, 79, 2);
        MarkColumns(corrected, 0, 0, marked);
        QVERIFY(picture("Image6").bgr == corrected.bgr && picture("Image7").bgr == marked.bgr);
        // Cancelled, missing and unreadable files change nothing.
        for (const QString& name : {QString(), Q(folder / "none.tif"), QString("/proc/self/mem")})
            open("Button1", name);
        QCOMPARE(dialogs_.errors.size(), 1); // the unreadable file's message
        QVERIFY(picture("Image1").bgr == nearer.bgr);
        QCOMPARE(text("RelativeShiftLabel1"), QString("35,00 mm"));
    }

    void upDownsSetTheirTexts() {
        // Each step's text: W = 9 + 2 p within 3 ... 25; 2^p within 1 ... 32, p = -1 is 0.
        const auto walk = [this](const char* name, const char* edit, std::vector<int> steps) {
            QStringList shown;
            for (int step : steps) {
                for (int i = 0; i < std::abs(step); ++i)
                    step > 0 ? control<TUpDown>(name)->StepUp()
                             : control<TUpDown>(name)->StepDown();
                shown << text(edit);
            }
            return shown.join(' ');
        };
        QCOMPARE(walk("UpDown1", "Edit3", {1, 20, -40}), QString("11 25 3"));
        QCOMPARE(walk("UpDown3", "Edit5", {-1, -5, -9, 1, 20}), QString("16 0 0 1 32"));
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

        // Each result in every field that shows it; the centre near the truth.
        QCOMPARE(texts({"dxStaticText", "dyStaticText", "xcStaticText", "xcStaticText",
                        "ycStaticText", "ycStaticText"}),
                 texts({"StaticText17", "StaticText19", "StaticText23", "StaticText21",
                        "StaticText25", "StaticText40"}));
        QVERIFY(text("RotStaticText").endsWith("°") && text("iterationsStaticText").toInt() > 0);
        const double xc = number("xcStaticText"), yc = number("ycStaticText");
        QVERIFY(std::abs(number("MagStaticText") - truth("magnification")) < 0.005 &&
                std::abs(xc - truth("xc")) < 5 && std::abs(yc - truth("yc")) < 5);
        // The overlay's lines run from the corners to the centre, marked blue.
        const std::uint8_t* corner = picture("Image3").Pixel(0, 0);
        const std::uint8_t* centre =
            picture("Image3").Pixel(int(RoundHalfEven(xc)), int(RoundHalfEven(yc)));
        QCOMPARE(QList<int>({corner[0], corner[1], corner[2], centre[0], centre[1], centre[2]}),
                 QList<int>({60, 20, 220, 255, 0, 0}));
        QCOMPARE(picture("Image4").width * picture("Image4").height, 1024 * 1024);
    }

    void searchRefusesQuietlyOrNamesTheBadField() {
        const struct {
            const char *edit, *value, *error;
        } rows[] = {{"Edit1", "0", ""},
                    {"Edit1", "-1E-6", ""},
                    {"Edit2", "0", ""},
                    {"Edit1", "abc", "'abc' is not a valid floating point value"},
                    {"Edit2", "1,5", "'1,5' is not a valid integer value"}};
        open("Button1", file(kNear));
        click("Button3"); // no second image
        open("Button2", file(kFar));
        for (const auto& row : rows) {
            dialogs_.errors.clear();
            setText("Edit1", "0,000001");
            setText("Edit2", "50");
            setText(row.edit, row.value);
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
        set("SpinEdit1", 31);
        Picture corrected(656, 492);
        IlluminationCorrection(picture("Image5"), corrected, 31, 2);
        QVERIFY(picture("Image6").bgr == corrected.bgr);
        set("TrackBar1", 100);
        set("SpinEdit4", 175); // moves track bar 2
        QCOMPARE(texts({"SpinEdit3", "PeriodSpinEdit"}), QString("100 75"));
        QVERIFY(control<QSlider>("TrackBar2")->value() == 175 &&
                picture("Image7").bgr == marked(100, 175));

        click("Button4");
        Picture suppressed = picture("Image6");
        SuppressStripes(picture("Image6"), suppressed, 75);
        QVERIFY(picture("Image7").bgr == suppressed.bgr);
        set("TrackBar1", 102); // only the numbers follow
        QVERIFY(text("PeriodSpinEdit") == "73" && picture("Image7").bgr == suppressed.bgr);
        click("Button5");
        QVERIFY(picture("Image7").bgr == marked(102, 175));
        for (int period : {74, 0}) { // even or none: nothing to apply
            click("Button5");
            const std::vector<std::uint8_t> view = picture("Image7").bgr;
            set("PeriodSpinEdit", period);
            click("Button4");
            set("TrackBar2", 200 + period); // yet the stripes count as removed
            QVERIFY(picture("Image7").bgr == view);
        }

        click("IterativeRadioButton");
        QCOMPARE(texts({"SpinEdit5", "Edit6", "SpinEdit6"}), QString("128 0,000001 128(off)"));
        setText("Edit6", "1000"); // one step from t0: the threshold depends on it
        set("SpinEdit5", 60);
        Picture binary(656, 492);
        const double tf = registration::IterativeThreshold(picture("Image7"), binary, 1000, 60);
        QVERIFY(text("StaticText37") == Q(FormatFixed(tf, 3, ',')) &&
                picture("Image8").bgr == binary.bgr);
        click("ManualRadioButton");
        QCOMPARE(texts({"SpinEdit5", "Edit6", "SpinEdit6"}), QString("60(off) 1000(off) 128"));
        set("SpinEdit6", 90);
        ThresholdPicture(picture("Image7"), 90, binary);
        QVERIFY(picture("Image8").bgr == binary.bgr);
        // Before any image the thresholds have no view to work on.
        start();
        click("ManualRadioButton");
        set("SpinEdit6", 40);
        click("Button5");
        QVERIFY(picture("Image8").Empty() && picture("Image7").Empty() && errors().isEmpty());
    }

    // One search serves every row: each row sets a field, then "HLEDAT".
    void findsTheFocalLength() {
        openPair();
        click("Button6"); // neither centre nor threshold yet
        click("Button3");
        click("Button6"); // still no threshold
        QCOMPARE(text("mmStaticText"), QString());
        set("TrackBar1", 100);
        set("TrackBar2", 175);
        click("Button4");
        const QString ds = text("dsStaticText"), dy = text("dyStaticText");
        QString found; // the millimetre size, shown again when the focal length fails
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
            setText("dsStaticText", ds);
            setText("dyStaticText", dy);
            setText("FocalLengthStaticText", "before");
            setText("mmStaticText", "before");
            setText("StaticText43", "before");
            if (field == "SpinEdit6") click("ManualRadioButton");
            if (field == "SpinEdit6") set(row.field, 0);
            if (field.startsWith("d")) setText(row.field, row.value);
            click("Button6");
            if (field.isEmpty()) found = text("mmStaticText");
            const QString f =
                row.focalLengthKept ? QString("before") : text("FocalLengthStaticText");
            const QString mm = field == "SpinEdit6" ? QString("NAN NAN") : found + ' ' + f;
            QCOMPARE(field + ": " + errors() + "|" + texts({"mmStaticText", "StaticText43"}),
                     field + ": " + row.error + "|" + mm);
        }
        // The simulated paper's millimetre and the camera's focal length, within 1 % and 5 %.
        QVERIFY(std::abs(ParseReal(S(found), ',') / truth("farther_pixels_per_mm") - 1) < 0.01);
        click("IterativeRadioButton");
        click("Button6");
        QVERIFY(std::abs(number("StaticText43") / truth("f") - 1) < 0.05);
    }

    void measuresTheEtalon() {
        click("RadioButton2");
        QCOMPARE(texts({"Edit4", "Edit7"}), QString("23 327,5"));
        open("Button7", file(kEtalon));
        // The edges where the etalon's tangents meet the sensor, the top drawn red.
        const QJsonObject etalon = truth_.value("etalon").toObject();
        const QJsonArray tangents = etalon.value("tangent_rows").toArray();
        QVERIFY(std::abs(number("StaticText45") - tangents[0].toDouble()) < 1 &&
                std::abs(number("StaticText49") - tangents[1].toDouble()) < 1);
        QCOMPARE(int(picture("Image9").Pixel(10, int(RoundHalfEven(number("StaticText45"))))[2]),
                 255);
        const std::uint8_t* centre = picture("Image9").Pixel(328, 246); // 327.5, 245.5 to even
        QCOMPARE(centre[0] * 0x10000 + centre[1] * 0x100 + centre[2], 0xFF0000);
        // The simulated camera's own parameters place it where it stands.
        setText("Edit7", Q(FormatGeneral(truth("xc"), ',')));
        setText("Edit8", Q(FormatGeneral(truth("yc"), ',')));
        open("Button7", file(kEtalon));
        QVERIFY(std::abs(number("StaticText51") - etalon.value("x").toDouble()) < 0.5 &&
                std::abs(number("StaticText55") - etalon.value("y").toDouble()) < 0.5);
        QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(errors()));
        // The main window's edge mode reaches the etalon page, and says so.
        QVERIFY(control("SubPixelLabel")->isHidden());
        control<QCheckBox>("SubPixelCheckBox", &windows_->mainForm)->click();
        open("Button7", file(kEtalon));
        QVERIFY(!control("SubPixelLabel")->isHidden());
        QVERIFY(std::abs(number("StaticText45") - tangents[0].toDouble()) < 0.1 &&
                std::abs(number("StaticText49") - tangents[1].toDouble()) < 0.1);
        control<QCheckBox>("SubPixelCheckBox", &windows_->mainForm)->click();
        click("RadioButton1"); // the previous calibration's fields instead
        QVERIFY(!control("Edit4")->isEnabled() && !control("Edit8")->isEnabled());
        for (const auto& [field, value] :
             {std::pair{"StaticText43", "23"}, {"StaticText21", "300"}, {"StaticText40", "250"}})
            setText(field, value);
        open("Button7", file(kEtalon));
        QCOMPARE(int(picture("Image9").Pixel(300, 250)[0]), 255);

        // Failures: nothing opened, or the edges shown and the position kept.
        ScratchFolder folder;
        testing::WriteFrame(folder / "step.tif", testing::BandSamples(200, 492)); // u = l
        const struct {
            const char *edit, *value;
            QString path;
            const char *shown, *error; // edges, x and y
        } rows[] = {
            {"", "", "", "kept kept kept", ""},
            {"", "", Q(folder / "none.tif"), "kept kept kept", ""},
            {"RadiusLabeledEdit", "abc", file(kEtalon), "edges kept kept",
             "'abc' is not a valid floating point value"},
            {"Edit4", "0", file(kEtalon), "edges 0 0", ""}, // out of range: from (0, 0)
            {"", "", Q(folder / "step.tif"), "edges kept kept", "Floating point division by zero"}};
        for (const auto& row : rows) {
            click("RadioButton2");
            for (const char* field : {"StaticText45", "StaticText51", "StaticText55"})
                setText(field, "kept");
            setText("RadiusLabeledEdit", "1,020");
            setText("Edit4", "23");
            if (*row.edit) setText(row.edit, row.value);
            dialogs_.errors.clear();
            open("Button7", row.path);
            const QString edges = text("StaticText45") == "kept" ? "kept" : "edges";
            QCOMPARE(errors() + "|" + edges + " " + texts({"StaticText51", "StaticText55"}),
                     QString(row.error) + "|" + row.shown);
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
                    setText("Edit7", "318,4");
                    open("Button7", file(kEtalon));
                    expected = QStringList{"23", "318,4", "245,5", text("StaticText51"),
                                           text("StaticText55")};
                }
                click("Button8");
                QStringList got;
                for (const char* field : {"f%1Edit", "xc%1Edit", "yc%1Edit", "x%1Edit", "y%1Edit"})
                    got << control<QLineEdit>(QString(field).arg(k), &windows_->mainForm)->text();
                QCOMPARE(got, expected);
                QVERIFY(windows_->mainForm.isVisible() && !form_->isVisible());
            }
    }

    void scriptedRunSavesEveryPage() {
        ScratchFolder folder;
        const std::string options = " --image1 " + Quote(S(file(kNear))) + " --image2 " +
                                    Quote(S(file(kFar))) + " --stripes 100,175 --etalon " +
                                    Quote(S(file(kEtalon))) + " --screenshot " +
                                    Quote(folder / "page.png");
        QCOMPARE(testing::RunTool("merkanix", "--calibration 2" + options).status, 0);
        for (int page = 1; page <= 3; ++page) {
            const QImage shot(Q(folder / ("page-" + std::to_string(page) + ".png")));
            QVERIFY(shot.width() > 1000 && shot.width() <= 1366 && shot.height() <= 730);
        }
        const auto missing =
            testing::RunTool("merkanix", "--calibration 1 --image1 none.tif --screenshot " +
                                             Quote(folder / "x.png"));
        QVERIFY(missing.status == 1 && Q(missing.err).contains("--image1: there is no file"));
    }
};

QTEST_MAIN(CalibrationFormTest)
#include "CalibrationFormTest.moc"
