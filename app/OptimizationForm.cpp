#include "app/OptimizationForm.h"

#include "app/Controls.h"
#include "app/FolderChooser.h"
#include "app/ImageBox.h"
#include "app/UserDialogs.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

using namespace merkanix;

namespace {

// Fifteen digits after a value's leading zeros.
const char* const kWidest = "-0,000549977878246767";

// A frame box that keeps its aspect and may get small on a small screen.
TImage* FrameBox(const char* name) {
    auto* image = Named(new TImage(kFrameWidth, kFrameHeight), name);
    image->setMinimumSize(kFrameWidth / 4, kFrameHeight / 4);
    return image;
}

std::string ToStd(const QString& text) {
    return text.toStdString();
}
QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

template <typename Sender, typename Signal>
void TOptimizationForm::Handle(Sender* sender, Signal signal,
                               void (TOptimizationForm::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { RunHandler(this, [&] { (this->*handler)(); }); });
}

TOptimizationForm::TOptimizationForm(QWidget* parent)
    : QWidget(parent), separator_([] {
          const QString point = QLocale().decimalPoint();
          return point.size() == 1 && point[0].unicode() < 128
                     ? static_cast<char>(point[0].unicode())
                     : '.';
      }()),
      defaults_(DefaultDescentTexts(separator_)) {
    setObjectName("TOptimizationForm");
    setWindowTitle("Kalibrace kamer optimalizačně");

    PageControl1 = Named(new QTabWidget, "PageControl1");
    PageControl1->addTab(BuildEtalonPage(), "Etalon v základní poloze");
    PageControl1->addTab(BuildTriplePage(), "Pozice kamer + ohniskové vzdálenosti");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl1);
    resize(1340, 700); // fits a 1366 x 768 screen with the window's frame

    clock_ = new QTimer(this);
    clock_->setInterval(100);
    connect(clock_, &QTimer::timeout, this, &TOptimizationForm::ShowElapsed);

    Handle(Button7, &QPushButton::clicked, &TOptimizationForm::Button7Click);
    Handle(Button1, &QPushButton::clicked, &TOptimizationForm::Button1Click);
    Handle(Button2, &QPushButton::clicked, &TOptimizationForm::Button2Click);
    Handle(CheckBox1, &QCheckBox::clicked, &TOptimizationForm::SortOutOptimize);
    Handle(Button4, &QPushButton::clicked, &TOptimizationForm::GradientDescent);
    Handle(Button3, &QPushButton::clicked, &TOptimizationForm::Button3Click);
    // The pass about to start reads the choice of this moment.
    QRadioButton* variants[4] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
    for (int v = 0; v < 4; ++v)
        connect(variants[v], &QRadioButton::toggled, this, [this, v](bool on) {
            if (on) variant_ = v + 1;
        });
}

TOptimizationForm::~TOptimizationForm() {
    StopRun();
}

// --- Layout ----------------------------------------------------------------------------

QWidget* TOptimizationForm::BuildEtalonPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* diameter = new QHBoxLayout;
    LabeledEdit1 = Edit(FromStd(defaults_.diameter), "LabeledEdit1", 8);
    diameter->addWidget(new QLabel("Průměr etalonu: "));
    diameter->addWidget(LabeledEdit1);
    diameter->addWidget(new QLabel("mm"));
    diameter->addStretch();
    layout->addLayout(diameter);

    auto* cameras = new QHBoxLayout;
    Button7 = Named(new QPushButton("Otevřít"), "Button7");
    Button1 = Named(new QPushButton("Otevřít"), "Button1");
    Button2 = Named(new QPushButton("Otevřít"), "Button2");
    QPushButton* buttons[3] = {Button7, Button1, Button2};
    static const char* const kImages[3] = {"EtalonImage1", "EtalonImage2", "EtalonImage3"};
    for (int k = 0; k < 3; ++k) {
        auto* group = new QGroupBox(QString("CAM%1").arg(k + 1));
        auto* g = new QVBoxLayout(group);
        etalonImages_[k] = FrameBox(kImages[k]);
        g->addWidget(etalonImages_[k], 1);
        g->addWidget(buttons[k], 0, Qt::AlignLeft);
        cameras->addWidget(group);
    }
    EtalonImage1 = etalonImages_[0];
    EtalonImage2 = etalonImages_[1];
    EtalonImage3 = etalonImages_[2];
    layout->addLayout(cameras);
    layout->addStretch();
    return page;
}

QWidget* TOptimizationForm::BuildTriplePage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* views = new QHBoxLayout;
    static const char* const kImages[3] = {"Image1", "Image2", "Image3"};
    for (int k = 0; k < 3; ++k) {
        auto* group = new QGroupBox(QString("CAM%1").arg(k + 1));
        auto* g = new QVBoxLayout(group);
        tripleImages_[k] = FrameBox(kImages[k]);
        g->addWidget(tripleImages_[k]);
        views->addWidget(group);
    }
    Image1 = tripleImages_[0];
    Image2 = tripleImages_[1];
    Image3 = tripleImages_[2];
    grid->addWidget(BuildFrameChoice(), 0, 0, 2, 1);
    grid->addLayout(views, 0, 1);
    grid->addWidget(BuildMinimisation(), 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);
    return page;
}

QGroupBox* TOptimizationForm::BuildFrameChoice() {
    auto* group = new QGroupBox("Výběr snímků etalonu");
    group->setMaximumWidth(240);
    auto* layout = new QVBoxLayout(group);
    folders_ = new TFolderChooser(this, "DriveComboBox1", "DirectoryListBox1", "FileListBox1");
    FileListBox1 = folders_->Files();
    folders_->AddTo(layout);
    const TripleSearchControls search =
        AddTripleSearch(layout, "LabeledEdit2", "čas. tolerance:  ");
    LabeledEdit2 = search.tolerance;
    CheckBox1 = search.find;
    ListBox1 = search.triples;
    return group;
}

QGroupBox* TOptimizationForm::BuildMinimisation() {
    auto* group = new QGroupBox("MINIMALIZACE");
    auto* columns = new QHBoxLayout(group);

    // The objective and the run's settings.
    auto* left = new QGridLayout;
    left->addWidget(new QLabel("g ="), 0, 0, Qt::AlignTop);
    RadioButton1 = Named(new QRadioButton("Sum( |R-a_i| + |R-b_i| )"), "RadioButton1");
    RadioButton2 = Named(new QRadioButton("Sum( (R-a_i)^2 + (R-b_i)^2 )"), "RadioButton2");
    RadioButton3 = Named(new QRadioButton("Sum( |R-a_ij| + |R-b_ij| )"), "RadioButton3");
    RadioButton4 = Named(new QRadioButton("Sum( (R-a_ij)^2 + (R-b_ij)^2 )"), "RadioButton4");
    RadioButton2->setChecked(true);
    auto* variants = new QVBoxLayout;
    for (QRadioButton* radio : {RadioButton1, RadioButton2, RadioButton3, RadioButton4})
        variants->addWidget(radio);
    left->addLayout(variants, 0, 1, 1, 2);
    stepEdit = Edit(FromStd(defaults_.step), "stepEdit", 15);
    KappaEdit = Edit(FromStd(defaults_.kappa), "KappaEdit", 15);
    epsilonEdit = Edit(FromStd(defaults_.epsilon), "epsilonEdit", 15);
    SufficientGradientEdit =
        Edit(FromStd(defaults_.sufficientGradient), "SufficientGradientEdit", 15);
    maxiterEdit = Edit(FromStd(defaults_.timeLimit), "maxiterEdit", 15);
    const std::pair<const char*, QLineEdit*> settings[] = {{"krok:", stepEdit},
                                                           {"kappa:", KappaEdit},
                                                           {"epsilon:", epsilonEdit},
                                                           {"max grad:", SufficientGradientEdit},
                                                           {"max čas:", maxiterEdit}};
    int row = 1;
    for (const auto& [caption, edit] : settings) {
        left->addWidget(new QLabel(caption), row, 0, 1, 2, Qt::AlignRight);
        left->addWidget(edit, row++, 2);
    }
    Button4 = Named(new QPushButton("MIN"), "Button4");
    Gauge = Named(new QProgressBar, "Gauge");
    Gauge->setRange(0, 1000);
    Gauge->setValue(0);
    Gauge->setTextVisible(false);
    left->addWidget(Button4, row++, 0, 1, 3);
    left->addWidget(Gauge, row++, 0, 1, 3);
    // Shown while a run measures its edges between rows.
    SubPixelLabel = Named(new QLabel("Subpixelové hrany"), "SubPixelLabel");
    SubPixelLabel->setVisible(false);
    left->addWidget(SubPixelLabel, row++, 0, 1, 3);
    left->setRowStretch(row, 1);
    columns->addLayout(left);

    // What the passes show.
    auto* shown = new QGridLayout;
    ObjectiveFunctionStaticText = StaticText("ObjectiveFunctionStaticText", {}, kWidest);
    f1currentStaticText = StaticText("f1currentStaticText", {}, kWidest);
    f2currentStaticText = StaticText("f2currentStaticText", {}, kWidest);
    f3currentStaticText = StaticText("f3currentStaticText", {}, kWidest);
    ObjectiveFunctionOptimalStaticText =
        StaticText("ObjectiveFunctionOptimalStaticText", FromStd(defaults_.bestObjective), kWidest);
    f1OptimalStaticText = StaticText("f1OptimalStaticText", {}, kWidest);
    f2OptimalStaticText = StaticText("f2OptimalStaticText", {}, kWidest);
    f3OptimalStaticText = StaticText("f3OptimalStaticText", {}, kWidest);
    Grad1StaticText = StaticText("Grad1StaticText", {}, kWidest);
    Grad2StaticText = StaticText("Grad2StaticText", {}, kWidest);
    Grad3StaticText = StaticText("Grad3StaticText", {}, kWidest);
    GradStaticText = StaticText("GradStaticText", {}, kWidest);
    const std::pair<const char*, QLabel*> current[] = {{"g aktual", ObjectiveFunctionStaticText},
                                                       {"f1 aktual", f1currentStaticText},
                                                       {"f2 aktual", f2currentStaticText},
                                                       {"f3 aktual", f3currentStaticText}};
    const std::pair<const char*, QLabel*> best[] = {
        {"g optimal", ObjectiveFunctionOptimalStaticText},
        {"f1 optimal", f1OptimalStaticText},
        {"f2 optimal", f2OptimalStaticText},
        {"f3 optimal", f3OptimalStaticText}};
    const std::pair<const char*, QLabel*> gradient[] = {{"grad(1)", Grad1StaticText},
                                                        {"grad(2)", Grad2StaticText},
                                                        {"grad(3)", Grad3StaticText},
                                                        {"|grad|", GradStaticText}};
    // One column: the current pass, the best so far, the gradient.
    int line = 0;
    for (const auto* rows : {current, best, gradient}) {
        for (int i = 0; i < 4; ++i) {
            shown->addWidget(new QLabel(rows[i].first), line, 0);
            shown->addWidget(rows[i].second, line++, 1);
        }
        shown->setRowMinimumHeight(line++, 6);
    }
    shown->setRowStretch(line, 1);
    columns->addLayout(shown);
    columns->addWidget(BuildCameraSystem(), 1);
    return group;
}

QGroupBox* TOptimizationForm::BuildCameraSystem() {
    auto* group = new QGroupBox("Parametry kamerového systému");
    auto* grid = new QGridLayout(group);
    QLineEdit** edits[3][5] = {{&f1Edit, &xc1Edit, &yc1Edit, &x1Edit, &y1Edit},
                               {&f2Edit, &xc2Edit, &yc2Edit, &x2edit, &y2Edit},
                               {&f3Edit, &xc3Edit, &yc3Edit, &x3Edit, &y3Edit}};
    static const char* const kNames[3][5] = {{"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit"},
                                             {"f2Edit", "xc2Edit", "yc2Edit", "x2edit", "y2Edit"},
                                             {"f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"}};
    static const char* const kCaptions[5] = {"f =", "xc =", "yc =", "x =", "y ="};
    static const char* const kUnits[5] = {"mm", "px", "px", "mm", "mm"};
    for (int k = 0; k < 3; ++k) {
        const QString defaults[5] = {FromStd(defaults_.f[k]),
                                     FromStd(WithDecimalSeparator("327,5", separator_)),
                                     FromStd(defaults_.yc[k]),
                                     {},
                                     {}};
        grid->addWidget(new QLabel(QString("CAM%1").arg(k + 1)), 0, 1 + 2 * k, 1, 2,
                        Qt::AlignCenter);
        for (int q = 0; q < 5; ++q) {
            auto* edit = Edit(defaults[q], kNames[k][q], 16); // "-46,0193228167378"
            edit->setEnabled(q < 3);                          // the positions come from the descent
            // A long text shows from its start.
            connect(edit, &QLineEdit::textChanged, edit, [edit] {
                if (!edit->hasFocus()) edit->setCursorPosition(0);
            });
            *edits[k][q] = edit;
            cameraEdits_[k][q] = edit;
            if (k == 0) grid->addWidget(new QLabel(kCaptions[q]), 1 + q, 0, Qt::AlignRight);
            grid->addWidget(edit, 1 + q, 1 + 2 * k);
            grid->addWidget(new QLabel(kUnits[q]), 1 + q, 2 + 2 * k);
        }
    }
    Button3 = Named(new QPushButton("Nastavit"), "Button3");
    grid->addWidget(Button3, 6, 0, 1, 7, Qt::AlignRight);
    grid->setRowStretch(7, 1);
    return group;
}

// --- Handlers ----------------------------------------------------------------------------

void TOptimizationForm::ChooseFolder(const QString& folder) {
    folders_->ChooseFolder(folder);
}

void TOptimizationForm::OpenEtalon(int camera) {
    const QString name = UserDialogs::Current().OpenFileName(this, QString());
    if (name.isEmpty() || !QFileInfo(name).isFile()) return;
    LoadFrame(ToStd(name), etalonImages_[camera]->picture());
    etalonImages_[camera]->Repaint();
    etalonFrameLoaded_[camera] = true;
}

void TOptimizationForm::Button7Click() {
    OpenEtalon(0);
}
void TOptimizationForm::Button1Click() {
    OpenEtalon(1);
}
void TOptimizationForm::Button2Click() {
    OpenEtalon(2);
}

void TOptimizationForm::SortOutOptimize() {
    if (!CheckBox1->isChecked()) {
        ListBox1->clear();
        FileListBox1->clearSelection();
        return;
    }
    // The table grows with what is found, so no triple is lost to its size.
    EtalonTripleTable found =
        FindEtalonTriples(ToStd(folders_->CurrentFolder()), folders_->FileNames(),
                          ToStd(LabeledEdit2->text()), separator_);
    ListBox1->clear();
    triples_ = std::move(found);
    QStringList entries;
    entries.reserve(static_cast<qsizetype>(triples_.size()));
    for (std::size_t i = 1; i <= triples_.size(); ++i)
        entries << QString::number(i);
    ListBox1->addItems(entries);
}

void TOptimizationForm::ShowImOptimize(std::size_t i) {
    if (i >= triples_.size()) return;
    for (int k = 0; k < 3; ++k) {
        LoadFrame(triples_[i].frames.path[k], tripleImages_[k]->picture());
        tripleImages_[k]->Repaint();
    }
}

void TOptimizationForm::Button3Click() {
    // Texts, not numbers: the main window gets exactly what is shown here.
    static const char* const kTargets[3][5] = {
        {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit"},
        {"f2Edit", "xc2Edit", "yc2Edit", "x2Edit", "y2Edit"},
        {"f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"}};
    if (mainWindow_ != nullptr) {
        for (int k = 0; k < 3; ++k)
            for (int q = 0; q < 5; ++q)
                if (auto* field = mainWindow_->findChild<QLineEdit*>(kTargets[k][q]))
                    field->setText(cameraEdits_[k][q]->text());
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    close();
}

void TOptimizationForm::GradientDescent() {
    if (Running()) return;
    DescentTexts texts;
    texts.diameter = ToStd(LabeledEdit1->text());
    texts.epsilon = ToStd(epsilonEdit->text());
    texts.step = ToStd(stepEdit->text());
    texts.kappa = ToStd(KappaEdit->text());
    texts.sufficientGradient = ToStd(SufficientGradientEdit->text());
    texts.timeLimit = ToStd(maxiterEdit->text());
    std::array<std::string, 3> startF;
    for (int k = 0; k < 3; ++k) {
        startF[k] = ToStd(cameraEdits_[k][0]->text());
        texts.f[k] = startF[k];
        texts.yc[k] = ToStd(cameraEdits_[k][2]->text());
    }
    texts.bestObjective = ToStd(ObjectiveFunctionOptimalStaticText->text());

    // Every text is read before anything is measured or shown, so a text that
    // is not a number changes nothing.
    DescentRun run;
    run.settings = ReadDescentSettings(texts, separator_);
    // The main window's edge mode, for the reference and the triples alike.
    const EdgeMode edgeMode = ChosenEdgeMode(mainWindow_);
    SubPixelLabel->setVisible(edgeMode == EdgeMode::SubPixel);
    run.bestObjective = texts.bestObjective;
    run.reference = MeasureReferenceEdges(
        {&EtalonImage1->picture(), &EtalonImage2->picture(), &EtalonImage3->picture()},
        etalonFrameLoaded_, edgeMode);
    const unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    run.triples = MeasureTripleEdges(triples_, jobs, edgeMode);
    if (!triples_.empty()) ShowImOptimize(triples_.size() - 1); // the last triple stays shown
    run.decimalSeparator = separator_;
    run.jobs = jobs;
    run.cancel = &cancel_;
    run.maxPasses = passLimit_;
    run.variant = [this] { return static_cast<ObjectiveVariant>(variant_.load()); };

    Button4->setEnabled(false);
    Button3->setEnabled(false); // the texts it hands over are settled when the run ends
    timeLimit_ = run.settings.timeLimit;
    Gauge->setValue(0);
    elapsed_.start();
    clock_->start();
    cancel_ = false;
    // Each pass's texts are queued to the window in order; a window being
    // destroyed drops what is still queued.
    worker_ = std::thread([this, run = std::move(run), startF] {
        const DescentOutcome outcome =
            merkanix::GradientDescent(run, startF, [this](const PassReport& pass) {
                QMetaObject::invokeMethod(
                    this, [this, pass] { ShowPass(pass); }, Qt::QueuedConnection);
            });
        QMetaObject::invokeMethod(
            this, [this, outcome] { FinishRun(outcome); }, Qt::QueuedConnection);
    });
}

void TOptimizationForm::ShowPass(const PassReport& pass) {
    static constexpr int kPositionFields[6][2] = {{0, 3}, {0, 4}, {1, 3}, {1, 4}, {2, 3}, {2, 4}};
    for (int i = 0; i < 6; ++i)
        cameraEdits_[kPositionFields[i][0]][kPositionFields[i][1]]->setText(
            FromStd(pass.positionTexts[i]));
    ObjectiveFunctionStaticText->setText(FromStd(pass.g0Text));
    QLabel* current[3] = {f1currentStaticText, f2currentStaticText, f3currentStaticText};
    QLabel* optimal[3] = {f1OptimalStaticText, f2OptimalStaticText, f3OptimalStaticText};
    for (int k = 0; k < 3; ++k)
        current[k]->setText(FromStd(pass.fTexts[k]));
    if (pass.improved) {
        ObjectiveFunctionOptimalStaticText->setText(FromStd(pass.bestText));
        for (int k = 0; k < 3; ++k) {
            optimal[k]->setText(FromStd(pass.bestFTexts[k]));
            cameraEdits_[k][0]->setText(FromStd(pass.bestFTexts[k]));
        }
    }
    if (pass.gradientShown) {
        QLabel* gradient[3] = {Grad1StaticText, Grad2StaticText, Grad3StaticText};
        for (int k = 0; k < 3; ++k)
            gradient[k]->setText(FromStd(pass.gradientTexts[k]));
        GradStaticText->setText(FromStd(pass.normText));
    }
}

void TOptimizationForm::FinishRun(const DescentOutcome& outcome) {
    if (worker_.joinable()) worker_.join(); // it has nothing left to do but return
    clock_->stop();
    ShowElapsed();
    // The camera handed over is the best one: its positions, not the last pass's.
    static constexpr int kPositionFields[6][2] = {{0, 3}, {0, 4}, {1, 3}, {1, 4}, {2, 3}, {2, 4}};
    for (int i = 0; i < 6; ++i)
        cameraEdits_[kPositionFields[i][0]][kPositionFields[i][1]]->setText(
            FromStd(outcome.bestPositionTexts[i]));
    Button4->setEnabled(true);
    Button3->setEnabled(true);
    if (!outcome.error.empty()) UserDialogs::Current().ShowError(this, FromStd(outcome.error));
    emit RunFinished();
}

void TOptimizationForm::ShowElapsed() {
    // A limit of 0 is reached at once.
    const double limit = timeLimit_ > 0.0 ? timeLimit_ * 1000.0 : 1.0;
    Gauge->setValue(static_cast<int>(
        std::min(1000.0, 1000.0 * static_cast<double>(elapsed_.elapsed()) / limit)));
}

void TOptimizationForm::StopRun() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void TOptimizationForm::closeEvent(QCloseEvent* event) {
    // The window lives on hidden; a run in progress ends with it.
    StopRun();
    event->accept();
}
