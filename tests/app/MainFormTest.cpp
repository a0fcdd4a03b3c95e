// The main window driven by control name on the offscreen platform, under a
// Czech locale as in the lab.
#include "app/ApplicationWindows.h"
#include "app/ImageBox.h"
#include "app/RadioButton.h"
#include "app/UserDialogs.h"
#include "common/Marker.h"
#include "common/NumberText.h"
#include "measurement/Edges.h"
#include "measurement/Evaluation.h"
#include "measurement/FrameFile.h"
#include "reconstruction/ReconstructionView.h"
#include "support/RunCommand.h"

#include <QCheckBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
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

// Whether a file-dialog filter ("Name (*.a *.b);;Other (*)") offers `name`.
bool FilterOffers(const QString& filter, const QString& name) {
    for (const QString& entry : filter.split(";;")) {
        const qsizetype open = entry.indexOf('('), close = entry.indexOf(')', open);
        if (open >= 0 && close > open &&
            QDir::match(entry.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts), name))
            return true;
    }
    return false;
}

// The pixels of `shot` in `colour`, as (x, y).
QList<QPoint> PixelsOf(const QImage& shot, QRgb colour) {
    QList<QPoint> found;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if ((shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) found << QPoint(x, y);
    return found;
}

// How many columns of `shot` hold `colour` somewhere in rows [top, bottom].
int ColumnsWith(const QImage& shot, QRgb colour, int top, int bottom) {
    int columns = 0;
    for (int x = 0; x < shot.width(); ++x)
        for (int y = std::max(top, 0); y <= std::min(bottom, shot.height() - 1); ++y)
            if ((shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                ++columns;
                break;
            }
    return columns;
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
    QGroupBox* group(const QString& title) {
        for (QGroupBox* box : form().findChildren<QGroupBox*>())
            if (box->title() == title) return box;
        qFatal("no group %s", qPrintable(title));
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
    // Whether the tree shows `folder` as its current row, whole, in its viewport.
    bool treeShows(const QString& folder) {
        auto* tree = control<QTreeView>("DirectoryListBox1");
        const auto* model = static_cast<const QFileSystemModel*>(tree->model());
        const QModelIndex current = tree->currentIndex();
        return current.isValid() && model->filePath(current) == folder &&
               tree->viewport()->rect().contains(tree->visualRect(current));
    }
    void findTriples() {
        form().ChooseFolder(Q(samples_->path()));
        control<QCheckBox>("CheckBox1")->click();
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
        for (int k : {2, 1}) { // the second evaluation leaves no trace of the first
            clickTriple(k);
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
        QCOMPARE(text("Label51"), Q(FormatGeneral(expected(2).edges[0].top, ',')));
        QCOMPARE(text("DiameterStaticText"), oldDiameter);

        // A missing frame: camera 1's frame was loaded before camera 2's failed.
        dialogs_.errors.clear();
        control<QLineEdit>("x2Edit")->setText("43,1025239130338");
        const std::string gone = form().Triples()[2].path[1];
        const std::string frame = merkanix::testing::ReadBytes(gone);
        std::filesystem::remove(gone);
        clickTriple(3);
        QCOMPARE(dialogs_.errors.size(), 1);
        QVERIFY(dialogs_.errors[0].contains(Q(form().Triples()[2].path[1])));
        Picture first(656, 492);
        LoadFrame(form().Triples()[2].path[0], first);
        QVERIFY(control<TImage>("Image1")->picture().bgr == first.bgr);
        QCOMPARE(text("Label51"), Q(FormatGeneral(expected(2).edges[0].top, ',')));
        merkanix::testing::WriteBytes(gone, frame); // the folder serves the other tests
    }

    void opensAtTheWorkingFolderAndKeepsTheChosenFolderInView() {
        // Folders among many siblings, so that their rows move as the tree
        // reads and sorts the siblings after the folder was chosen.
        ScratchFolder scratch;
        const QString root = Q(scratch.path());
        for (int i = 0; i < 40; ++i)
            QVERIFY(QDir().mkpath(root + QString("/k%1/a/b").arg(i, 2, 10, QChar('0'))));
        const QString first = root + "/k20/a/b", second = root + "/k31/a";
        merkanix::testing::WriteBytes(first.toStdString() + "/Camera1_20080415_093012_000.tif", "");
        const QString before = QDir::currentPath();
        QDir::setCurrent(first);
        windows_ = std::make_unique<ApplicationWindows>();
        QDir::setCurrent(before);
        QCOMPARE(form().CurrentFolder(), first);
        QCOMPARE(control<QListWidget>("FileListBox1")->count(), 1);

        auto* tree = control<QTreeView>("DirectoryListBox1");
        QSignalSpy loaded(tree->model(), SIGNAL(directoryLoaded(QString)));
        // Once every folder on the way has been read and sorted.
        const auto settled = [&](const QString& folder) {
            for (QDir dir(folder); dir.cdUp();)
                if (!QTest::qWaitFor([&] {
                        for (const QList<QVariant>& call : loaded)
                            if (call[0].toString() == dir.absolutePath()) return true;
                        return false;
                    }))
                    return false;
            QTest::qWait(100);
            return true;
        };
        form().resize(1350, 690);
        show();
        QVERIFY(settled(first));
        QVERIFY(treeShows(first));
        // Chosen later, as --folder does, with the tree scrolled to its top.
        tree->verticalScrollBar()->setValue(0);
        form().ChooseFolder(second);
        QVERIFY(settled(second));
        QVERIFY(treeShows(second));
    }

    void arrowKeysAndClicksEvaluateTheCurrentTripleOnce() {
        findTriples();
        clickTriple(1);
        QListWidget* list = control<QListWidget>("ListBox1");
        const auto shows = [&](int k) {
            const TripleEvaluation want = expected(k);
            return text("Label51") == Q(FormatGeneral(want.edges[0].top, ',')) &&
                   text("DiameterStaticText") == Q(FormatDiameter(want.state.fibre, ',')) &&
                   text("Label1").endsWith(Q(TimeText(form().Triples()[k - 1].time[0])));
        };
        QVERIFY(shows(1));
        // Keys move the highlight and the panel with it.
        const std::pair<Qt::Key, int> keys[] = {
            {Qt::Key_Down, 2}, {Qt::Key_Down, 3}, {Qt::Key_Up, 2}, {Qt::Key_Home, 1}};
        for (const auto& [key, k] : keys) {
            QTest::keyClick(list, key);
            QCOMPARE(list->currentRow(), k - 1);
            QVERIFY2(shows(k), qPrintable(QString("triple %1").arg(k)));
        }
        // Each change evaluates once, and a click on the current triple
        // evaluates it again (with the texts as they now stand).
        control<QLineEdit>("x2Edit")->setText("abc");
        const std::pair<const char*, int> steps[] = {
            {"click 1", 1}, {"click 2", 2}, {"down", 3}, {"click 3", 3}};
        for (const auto& [step, k] : steps) {
            dialogs_.errors.clear();
            if (step[0] == 'd')
                QTest::keyClick(list, Qt::Key_Down);
            else
                clickTriple(k);
            QCOMPARE(list->currentRow(), k - 1);
            QVERIFY2(dialogs_.errors.size() == 1, step);
        }
    }

    void fitsA1366By768ScreenAndLooksAsBeforeOnFullHd() {
        findTriples();
        clickTriple(1); // the longest texts are in
        struct Case {
            QSize size;
            bool scrolls;
        };
        // The sizes the window takes on screens of 1366 x 768, 1600 x 900 and
        // full HD with a 40-pixel panel, and a screen smaller still, where the
        // window scrolls.
        const QSize panel(0, 40);
        for (const Case& c : {Case{TMainForm::SizeForScreen(QSize(1366, 768) - panel), false},
                              Case{TMainForm::SizeForScreen(QSize(1600, 900) - panel), false},
                              Case{TMainForm::SizeForScreen(QSize(1920, 1080) - panel), false},
                              Case{{1024, 560}, true}}) {
            form().resize(c.size);
            QCoreApplication::processEvents();
            const auto* scroll = control<QScrollArea>("ScrollBox");
            QCOMPARE(scroll->horizontalScrollBar()->isVisible() ||
                         scroll->verticalScrollBar()->isVisible(),
                     c.scrolls);
            if (c.scrolls) continue;
            // Nothing is squeezed below its least size: no text is cut.
            for (QWidget* w : form().findChildren<QWidget*>())
                if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                    QVERIFY2(w->width() >= w->minimumSizeHint().width() &&
                                 scroll->viewport()->rect().contains(
                                     QRect(w->mapTo(scroll->viewport(), QPoint()), w->size())),
                             qPrintable(w->objectName() + " " + w->property("text").toString()));
            // Each camera view shows its edge rows unbroken and its centre cross.
            auto* view = control<TImage>("Image1");
            const QImage shot = view->grab().toImage();
            const double scale = std::min(view->width() / 656.0, view->height() / 492.0);
            const int top = (view->height() - static_cast<int>(492 * scale)) / 2;
            const double row = expected(1).edges[0].top;
            const int y = top + static_cast<int>(row * scale);
            const int shownWidth = static_cast<int>(656 * scale);
            QVERIFY(ColumnsWith(shot, qRgb(255, 0, 0), y - 1, y + 1) >= shownWidth - 1);
            QCOMPARE(PixelsOf(shot, qRgb(0, 0, 255)).size(), 9);
        }
        // On full HD the window is as it always was, the frame choice and the
        // camera texts with their full room.
        form().resize(TMainForm::SizeForScreen(QSize(1920, 1080) - panel));
        QCoreApplication::processEvents();
        QCOMPARE(form().size(), QSize(1880, 960));
        QCOMPARE(group("Výběr snímků")->width(), 370);
        auto* edit = control<QLineEdit>("x1Edit");
        QVERIFY(edit->width() > edit->fontMetrics().horizontalAdvance(edit->text()));
    }

    void imageBoxesKeepTheirMarksAtAnySize() {
        // A grey frame (bright above, dark below) with edge rows and a cross,
        // drawn by the routines the windows use.
        TImage box(656, 492);
        Picture& picture = box.picture();
        for (int y = 0; y < 492; ++y)
            for (int x = 0; x < 656; ++x)
                picture.SetGrey(x, y, y < 230 ? 220 : 40);
        DrawEdgeRows(picture, {101, 301});
        DrawMarker(picture, kBlue, 500, 101); // on the red row
        const std::vector<std::uint8_t> pixels = picture.bgr;
        const QList<QPoint> plus = {{0, 0},  {-1, 0}, {-2, 0}, {1, 0}, {2, 0},
                                    {0, -1}, {0, -2}, {0, 1},  {0, 2}};
        struct Case {
            QSize size;
            bool keep;
            int cross; // the cross's pixels on screen
        };
        for (const Case& c :
             {Case{{656, 492}, true, 9}, Case{{328, 246}, true, 9}, Case{{262, 197}, true, 9},
              Case{{164, 123}, true, 9}, Case{{1312, 984}, true, 36}, Case{{262, 197}, false, 0}}) {
            box.KeepMarksVisible(c.keep);
            box.resize(c.size);
            const QImage shot = box.grab().toImage();
            const QString what = QString("%1 x %2").arg(c.size.width()).arg(c.size.height());
            const double scale = c.size.width() / 656.0;
            const int width = c.size.width();
            const auto rowAt = [&](double y) { return static_cast<int>((y + 0.5) * scale); };
            // The cross covers five columns of the red row.
            const int crossWidth = 5 * std::max(1, static_cast<int>(scale));
            const bool whole =
                ColumnsWith(shot, qRgb(255, 0, 0), rowAt(101) - 1, rowAt(101) + 1) >=
                    width - crossWidth &&
                ColumnsWith(shot, qRgb(255, 140, 0), rowAt(301) - 1, rowAt(301) + 1) == width;
            QVERIFY2(whole == (c.keep || scale >= 1), qPrintable(what));
            const QList<QPoint> blue = PixelsOf(shot, qRgb(0, 0, 255));
            QVERIFY2(blue.size() == c.cross, qPrintable(what));
            if (c.cross == 9) { // a plus as drawn, where the picture has it
                QPoint centre;
                for (const QPoint& p : blue)
                    centre += p;
                centre /= 9;
                for (const QPoint& arm : plus)
                    QVERIFY2(blue.contains(centre + arm), qPrintable(what));
                QVERIFY2((centre - QPoint(static_cast<int>(500.5 * scale), rowAt(101)))
                                 .manhattanLength() <= 1,
                         qPrintable(what));
            }
            // Away from the marks the picture shows as it is, smoothed.
            QCOMPARE(qGray(shot.pixel(10, rowAt(50))), 220);
            QCOMPARE(qGray(shot.pixel(10, rowAt(400))), 40);
            QVERIFY2(picture.bgr == pixels, qPrintable(what)); // the picture is not touched
        }
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
        QCOMPARE(dialogs_.filters.size(), 2);
        QVERIFY(dialogs_.filters[1].startsWith(".txt (*.txt);;"));
        for (const char* name : {"system", "system.txt", "nastavení.cfg"})
            QVERIFY2(FilterOffers(dialogs_.filters[1], name), name);

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
