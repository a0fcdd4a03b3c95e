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
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTreeView>
#include <QtTest>
#include <memory>

using namespace merkanix;
using merkanix::testing::Quote;
using merkanix::testing::RunTool;
using merkanix::testing::ScratchFolder;

namespace {

class ScriptedDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString& filter) override { return Answer(filter); }
    QString SaveFileName(QWidget*, const QString& filter) override { return Answer(filter); }
    void ShowError(QWidget*, const QString& message) override { errors << message; }
    QString Answer(const QString& filter) {
        filters << filter;
        return answer;
    }

    QString answer;
    QStringList filters, errors;
};

const char* const kEditNames[15] = {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit",
                                    "f2Edit", "xc2Edit", "yc2Edit", "x2Edit", "y2Edit",
                                    "f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

int PixelsOf(const QImage& shot, QRgb colour) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += shot.pixel(x, y) == colour;
    return count;
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScratchFolder> samples_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<ApplicationWindows> windows_;

    TMainForm& form() { return windows_->mainForm; }
    template <typename T = QWidget> T* control(const QString& name) {
        T* found = form().findChild<T*>(name);
        if (found == nullptr) qFatal("no control %s", qPrintable(name));
        return found;
    }
    TRadioButton* radio(int i) { return control<TRadioButton>(QString("RadioButton%1").arg(i)); }
    QString text(const char* name) {
        if (auto* label = form().findChild<QLabel*>(name)) return label->text();
        return control<QLineEdit>(name)->text();
    }
    void show() {
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
    }
    // With the mouse, as a user clicks.
    void clickTriple(int k) {
        show();
        QListWidget* list = control<QListWidget>("ListBox1");
        list->scrollToItem(list->item(k - 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(k - 1)).center());
    }
    void findTriples() {
        form().ChooseFolder(Q(samples_->path()));
        control<QCheckBox>("CheckBox1")->click();
    }
    // What the core measures for triple k of the folder, with the window's texts.
    TripleEvaluation expected(int k, EdgeMode mode = EdgeMode::WholeRows) {
        TripleEvaluation out;
        EvaluateTriple(form().Triples()[static_cast<std::size_t>(k - 1)], DefaultCameraTexts(','),
                       ',', true, out, mode);
        return out;
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
        UserDialogs::Install(&dialogs_);
        samples_ = std::make_unique<ScratchFolder>();
        QCOMPARE(RunTool("merkanix-simulate",
                         Quote(samples_->path()) +
                             " --triples 3 --extra 2 --seed 5 --ovality 0.2 --noise 200")
                     .status,
                 0);
    }
    void init() {
        windows_ = std::make_unique<ApplicationWindows>();
        dialogs_ = {};
        UserDialogs::Install(&dialogs_);
    }
    void cleanup() { windows_.reset(); }
    void cleanupTestCase() { UserDialogs::Install(nullptr); }

    void startsWithItsWindowsAndTheDefaultsLocked() {
        const QWidget* cameras[] = {&windows_->cam1Form, &windows_->cam2Form, &windows_->cam3Form};
        for (int k = 0; k < 3; ++k) // each calibration window serves its own camera
            QCOMPARE(cameras[k]->windowTitle(), QString("Kalibrace CAM%1").arg(k + 1));
        windows_->ShowAtStart();
        QVERIFY(windows_->optimisationForm.isVisible());
        QVERIFY(!windows_->cam1Form.isVisible() && !windows_->histoForm.isVisible());
        // The start values in the locale's number format, locked.
        const SystemTexts defaults = DefaultCameraTexts(',');
        for (int i = 0; i < 15; ++i) {
            const CameraTexts& c = defaults[i / 5];
            const std::string* fields[5] = {&c.f, &c.xc, &c.yc, &c.x, &c.y};
            QCOMPARE(text(kEditNames[i]), Q(*fields[i % 5]));
            QVERIFY(!control(kEditNames[i])->isEnabled());
        }
        QCOMPARE(text("LabeledEdit1") + text("Label1") + text("Label56"), QString("50--"));
        // Before any evaluation the view is white at every zoom.
        control<QSlider>("TrackBar1")->setValue(250);
        QCOMPARE(text("Edit1"), QString("250x"));
        for (std::uint8_t byte : control<TImage>("EllipseImage")->picture().bgr)
            QCOMPARE(byte, std::uint8_t{255});
    }

    void radioButtonsFollowTheirRules() {
        show();
        // On the indicator: a wide button reacts only near its indicator and label.
        const auto click = [this](int i) {
            QTest::mouseClick(radio(i), Qt::LeftButton, {}, QPoint(6, radio(i)->height() / 2));
        };
        click(2);
        QVERIFY(control("f1Edit")->isEnabled() && !control("f2Edit")->isEnabled());
        control<QLineEdit>("f1Edit")->setText("24,5");
        click(7);
        QVERIFY(radio(7)->isChecked() && !radio(2)->isChecked());
        QVERIFY(windows_->optimisationForm.isVisible());
        for (const char* name : kEditNames)
            QVERIFY(!control(name)->isEnabled());
        QCOMPARE(text("f1Edit"), QString("24,5")); // locked, not lost

        // A single click on camera 1's "mm papír" leaves "Gradientním spádem"
        // checked; the double click clears it.
        click(1);
        QVERIFY(windows_->cam1Form.isVisible() && radio(1)->isChecked() && radio(7)->isChecked());
        QTest::mouseDClick(radio(1), Qt::LeftButton, {}, QPoint(6, radio(1)->height() / 2));
        QVERIFY(!radio(7)->isChecked());
        click(7);
        click(5);
        QVERIFY(windows_->cam3Form.isVisible() && !radio(7)->isChecked());
        click(4);
        QVERIFY(control("y2Edit")->isEnabled());
        click(3);
        QVERIFY(windows_->cam2Form.isVisible() && !control("y2Edit")->isEnabled());
        QVERIFY(radio(3)->isChecked() && radio(5)->isChecked());
    }

    void findsTriplesAndShowsTheCoresNumbers() {
        findTriples();
        QListWidget* list = control<QListWidget>("ListBox1");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(2)->text(), QString("3"));
        for (int k : {2, 1, 2}) { // by mouse, then by keys; each leaves no trace of the last
            if (list->currentRow() < 0)
                clickTriple(k);
            else
                QTest::keyClick(list, k == 1 ? Qt::Key_Up : Qt::Key_Down);
            QVERIFY2(dialogs_.errors.isEmpty(), qPrintable(dialogs_.errors.join("; ")));
            const TripleEvaluation want = expected(k);
            QCOMPARE(text("Label51"), Q(FormatGeneral(want.edges[0].top, ',')));
            QCOMPARE(text("Label56"), Q(FormatGeneral(want.edges[2].bottom, ',')));
            QCOMPARE(text("Label4"), Q(FormatSpan(form().Triples()[k - 1].span)));
            QVERIFY2(text("Label1").startsWith("15.04.08, 09:30:1"), qPrintable(text("Label1")));
            const EllipseTexts fibre = FormatEllipseRow(want.state.fibre, ',');
            QCOMPARE(text("FibreCenterStaticText"), Q(fibre.centre));
            QCOMPARE(text("FibreAngleStaticText"), Q(fibre.angle));
            QCOMPARE(text("DiameterStaticText"), Q(FormatDiameter(want.state.fibre, ',')));
            QCOMPARE(text("Ellipse4bStaticText"),
                     Q(FormatEllipseRow(want.state.ellipses[3], ',').b));
            QCOMPARE(control<TImage>("Image3")->picture().bgr, want.views[2].bgr);
        }
        // Edges between rows: off at start; ticking measures the shown triple again.
        QCheckBox* subPixel = control<QCheckBox>("SubPixelCheckBox");
        QVERIFY(!subPixel->isChecked());
        subPixel->click();
        const TripleEvaluation between = expected(2, EdgeMode::SubPixel);
        QCOMPARE(text("Label51"), Q(FormatGeneral(between.edges[0].top, ',')));
        QCOMPARE(text("DiameterStaticText"), Q(FormatDiameter(between.state.fibre, ',')));
        QCOMPARE(control<TImage>("Image3")->picture().bgr, between.views[2].bgr);
        subPixel->click();
        QCOMPARE(text("Label51"), Q(FormatGeneral(expected(2).edges[0].top, ',')));

        // The view is the core's drawing at the track bar's zoom, and toggling
        // rings redraws only the view.
        const QString before = text("FibreCenterStaticText") + text("Label51");
        control<QCheckBox>("Ellipse2CheckBox")->click();
        control<QSlider>("TrackBar1")->setValue(300);
        RingChoice rings;
        rings.ellipses[1] = true;
        Picture drawn(492, 492);
        DrawReconstruction(drawn, form().Reconstruction(), 300, 2.0, rings);
        QVERIFY(control<TImage>("EllipseImage")->picture().bgr == drawn.bgr);
        QCOMPARE(text("FibreCenterStaticText") + text("Label51"), before);

        control<QCheckBox>("CheckBox1")->click(); // cleared
        QCOMPARE(list->count(), 0);
        QCOMPARE(text("Label1") + text("Label4"), QString("--"));
    }

    void failuresShowTheirMessageAndWhatWasReached() {
        findTriples();
        // A camera out of range: no error, dashes in every result.
        control<QLineEdit>("f2Edit")->setText("0");
        clickTriple(1);
        QVERIFY(dialogs_.errors.isEmpty());
        for (const char* name : {"FibreCenterStaticText", "FibreaStaticText", "FibrebStaticText",
                                 "FibreAngleStaticText", "DiameterStaticText",
                                 "Ellipse1CenterStaticText", "Ellipse6AngleStaticText"})
            QCOMPARE(text(name), QString("-"));
        control<QLineEdit>("f2Edit")->setText("23");
        clickTriple(1);
        const QString oldDiameter = text("DiameterStaticText");

        // A bad text: its message; the edges of triple 2 are shown, the results are not.
        control<QLineEdit>("x2Edit")->setText("abc");
        clickTriple(2);
        QCOMPARE(dialogs_.errors, QStringList{"'abc' is not a valid floating point value"});
        clickTriple(2); // a click on the highlighted triple evaluates it again
        QCOMPARE(dialogs_.errors.size(), 2);
        QCOMPARE(text("Label51"), Q(FormatGeneral(expected(2).edges[0].top, ',')));
        QCOMPARE(text("DiameterStaticText"), oldDiameter);

        // A missing frame: camera 1's frame was loaded before camera 2's failed.
        dialogs_.errors.clear();
        control<QLineEdit>("x2Edit")->setText("43,1025239130338");
        std::filesystem::remove(form().Triples()[2].path[1]);
        clickTriple(3);
        QCOMPARE(dialogs_.errors.size(), 1);
        QVERIFY(dialogs_.errors[0].contains(Q(form().Triples()[2].path[1])));
        Picture first(656, 492);
        LoadFrame(form().Triples()[2].path[0], first);
        QVERIFY(control<TImage>("Image1")->picture().bgr == first.bgr);
        QCOMPARE(text("Label51"), Q(FormatGeneral(expected(2).edges[0].top, ',')));
    }

    void opensAtTheWorkingFolderAndKeepsItInView() {
        // Among many siblings, so that its row moves as the tree reads and
        // sorts them after the folder was chosen.
        ScratchFolder scratch;
        for (int i = 10; i < 50; ++i)
            QVERIFY(QDir().mkpath(Q(scratch / "k") + QString::number(i) + "/a"));
        const QString folder = Q(scratch / "k30/a"), before = QDir::currentPath();
        QDir::setCurrent(folder);
        windows_ = std::make_unique<ApplicationWindows>();
        QDir::setCurrent(before);
        QCOMPARE(form().CurrentFolder(), folder);
        auto* tree = control<QTreeView>("DirectoryListBox1");
        QSignalSpy loaded(tree->model(), SIGNAL(directoryLoaded(QString)));
        form().resize(1350, 690);
        show();
        QTRY_VERIFY(loaded.contains({Q(scratch.path())})); // read, then sorted
        QTest::qWait(100);
        const auto* model = static_cast<const QFileSystemModel*>(tree->model());
        QCOMPARE(model->filePath(tree->currentIndex()), folder);
        QVERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));
    }

    void fitsA1366By768ScreenAndLooksAsBeforeOnFullHd() {
        findTriples();
        clickTriple(1); // the longest texts are in
        // Screens of 1366 x 768 and full HD less a 40-pixel panel, and a
        // screen smaller still, where the window scrolls.
        for (const QSize screen : {QSize(1040, 600), QSize(1366, 728), QSize(1920, 1040)}) {
            form().resize(TMainForm::SizeForScreen(screen));
            QCoreApplication::processEvents();
            const auto* scroll = control<QScrollArea>("ScrollBox");
            QCOMPARE(scroll->horizontalScrollBar()->isVisible(), screen.width() < 1366);
            if (screen.width() < 1366) continue;
            QVERIFY(!scroll->verticalScrollBar()->isVisible());
            for (QWidget* w : form().findChildren<QWidget*>()) // no text is cut
                if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                    QVERIFY2(w->width() >= w->minimumSizeHint().width(),
                             qPrintable(w->objectName()));
            // The edge rows one screen pixel thick, the centre cross at its own size;
            // smoothing would leave neither pure red nor pure blue.
            auto* view = control<TImage>("Image1");
            const QImage shot = view->grab().toImage();
            QVERIFY(PixelsOf(shot, qRgb(255, 0, 0)) >=
                    std::min(view->width(), 4 * view->height() / 3) - 1);
            QCOMPARE(PixelsOf(shot, qRgb(0, 0, 255)), 9);
            QVERIFY(view->picture().bgr == expected(1).views[0].bgr); // not changed by painting
        }
        // On full HD as it always was: the frame choice 370 wide.
        QCOMPARE(form().size(), QSize(1880, 960));
        QCOMPARE(control("CheckBox1")->parentWidget()->width(), 370);
    }

    void savesAndLoadsTheSettingsFile() {
        ScratchFolder folder;
        dialogs_.answer = Q(folder / "system");
        control<QPushButton>("Button2")->click();
        QCOMPARE(dialogs_.filters, QStringList{".txt (*.txt)"});
        WriteSettingsFile(folder / "core", DefaultCameraTexts(','));
        QVERIFY(merkanix::testing::ReadBytes(folder / "system") ==
                merkanix::testing::ReadBytes(folder / "core"));
        // "Načíst" offers what "Uložit" may have written, with ".txt" or without.
        control<QPushButton>("Button1")->click();
        QCOMPARE(dialogs_.filters.value(1), QString(".txt (*.txt);;Všechny soubory (*)"));

        merkanix::testing::WriteBytes(
            folder / "twelve.txt",
            "1\r\n2\r\n3\r\n4\r\n5\r\n--\r\n6\r\n7\r\n8\r\n9\r\n10\r\n--\r\n");
        dialogs_.answer = Q(folder / "twelve.txt");
        control<QPushButton>("Button1")->click();
        QCOMPARE(text("f1Edit") + text("y2Edit") + text("f3Edit") + text("y3Edit"), QString("110"));
        QVERIFY(!control("f1Edit")->isEnabled()); // the states stay
        dialogs_.answer = Q(folder / "missing.txt");
        control<QPushButton>("Button1")->click();
        QCOMPARE(text("f1Edit"), QString("1"));
        dialogs_.answer.clear(); // cancelled
        control<QPushButton>("Button2")->click();
        QVERIFY(dialogs_.errors.isEmpty());
    }

    void scriptedScreenshotOfATriple() {
        ScratchFolder folder;
        const std::string options = "--folder " + Quote(samples_->path()) + " --screenshot ";
        QCOMPARE(RunTool("merkanix", options + Quote(folder / "shot.png") + " --select 1").status,
                 0);
        const QImage shot(Q(folder / "shot.png"));
        QVERIFY(shot.width() <= 1920 && shot.height() <= 1080 && shot.width() > 1000);
        const auto bad = RunTool("merkanix", options + Quote(folder / "none.png") + " --select 9");
        QCOMPARE(bad.status, 1);
        QVERIFY(QString::fromStdString(bad.err).contains("no triple 9"));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
