#include "app/CalibrationForm.h"

#include "app/Controls.h"
#include "app/ImageBox.h"
#include "app/UpDown.h"
#include "app/UserDialogs.h"
#include "calibration/CalibrationControls.h"
#include "calibration/CalibrationSteps.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"
#include "registration/HistoUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <initializer_list>
#include <tuple>

using namespace merkanix;

namespace {

const QString kImageFilter = QStringLiteral(".tif,.tiff (*.tif *.tiff)");

QSpinBox* SpinEdit(const char* name, int minimum, int maximum, int value, int step = 1) {
    auto* spin = Named(new QSpinBox, name);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

// An image box that keeps the room of its control in the layout whether or
// not it holds a picture yet.
class CalibrationImageBox final : public TImage {
public:
    CalibrationImageBox(int width, int height, bool startsEmpty, const char* name)
        : TImage(width, height), boxWidth_(width), boxHeight_(height) {
        setObjectName(QString::fromLatin1(name));
        if (startsEmpty) picture() = Picture();
    }
    QSize sizeHint() const override { return {boxWidth_ / 2, boxHeight_ / 2}; }
    int heightForWidth(int width) const override { return width * boxHeight_ / boxWidth_; }

private:
    int boxWidth_, boxHeight_;
};

// Rows of "caption [field] (unit)" from `row` on.
void AddFields(QGridLayout* grid, int row,
               std::initializer_list<std::tuple<const char*, QLabel*, const char*>> fields) {
    for (const auto& [caption, field, unit] : fields) {
        grid->addWidget(new QLabel(caption), row, 0, Qt::AlignRight);
        grid->addWidget(field, row, 1);
        grid->addWidget(new QLabel(unit), row++, 2);
    }
}

// The routines draw into the target box only when it has the source's size,
// as every box of these pages has; a target that holds no picture yet gets
// its control's size first.
void FitTarget(const TImage* source, TImage* target) {
    if (!source->picture().Empty()) target->picture().Resize(kFrameWidth, kFrameHeight);
}

std::string ToStd(const QString& text) {
    return text.toStdString();
}
QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// Thrown out of a waiting search when its window was destroyed meanwhile.
struct WindowGone {};

} // namespace

template <typename Sender, typename Signal>
void TCalibrationForm::Handle(Sender* sender, Signal signal, void (TCalibrationForm::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { RunHandler(this, [&] { (this->*handler)(); }); });
}

TCalibrationForm::TCalibrationForm(const CalibrationCamera& camera, QWidget* parent)
    : QWidget(parent), camera_(camera), separator_([] {
          const QString point = QLocale().decimalPoint();
          return point.size() == 1 && point[0].unicode() < 128
                     ? static_cast<char>(point[0].unicode())
                     : '.';
      }()) {
    setObjectName(QString("T%1Form").arg(camera.name));
    setWindowTitle(QString("Kalibrace %1").arg(camera.name));

    PageControl1 = Named(new QTabWidget, "PageControl1");
    PageControl1->addTab(BuildCentrePage(), "Optický střed");
    PageControl1->addTab(BuildFocalLengthPage(), "Ohnisková vzdálenost");
    PageControl1->addTab(BuildEtalonPage(), "Sesazení podle etalonu");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl1);
    resize(1340, 700); // fits a 1366 x 768 screen with the window's frame

    Handle(Button1, &QPushButton::clicked, &TCalibrationForm::Button1Click);
    Handle(Button2, &QPushButton::clicked, &TCalibrationForm::Button2Click);
    Handle(UpDown1, &TUpDown::clicked, &TCalibrationForm::UpDown1Click);
    Handle(UpDown3, &TUpDown::clicked, &TCalibrationForm::UpDown3Click);
    Handle(Button3, &QPushButton::clicked, &TCalibrationForm::FindCenter);
    Handle(SpinEdit1, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit1Change);
    Handle(SpinEdit2, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit2Change);
    Handle(TrackBar1, &QSlider::valueChanged, &TCalibrationForm::TrackBar1Change);
    Handle(TrackBar2, &QSlider::valueChanged, &TCalibrationForm::TrackBar2Change);
    Handle(SpinEdit3, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit3Change);
    Handle(SpinEdit4, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit4Change);
    Handle(Button4, &QPushButton::clicked, &TCalibrationForm::Button4Click);
    Handle(Button5, &QPushButton::clicked, &TCalibrationForm::Button5Click);
    Handle(IterativeRadioButton, &QRadioButton::clicked,
           &TCalibrationForm::IterativeRadioButtonClick);
    Handle(SpinEdit5, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit5Change);
    Handle(ManualRadioButton, &QRadioButton::clicked, &TCalibrationForm::ManualRadioButtonClick);
    Handle(SpinEdit6, &QSpinBox::valueChanged, &TCalibrationForm::SpinEdit6Change);
    Handle(Button6, &QPushButton::clicked, &TCalibrationForm::FindFocalLength);
    Handle(Button7, &QPushButton::clicked, &TCalibrationForm::OpenEtalon);
    Handle(RadioButton1, &QRadioButton::clicked, &TCalibrationForm::RadioButton1Click);
    Handle(RadioButton2, &QRadioButton::clicked, &TCalibrationForm::RadioButton2Click);
    Handle(Button8, &QPushButton::clicked, &TCalibrationForm::Button8Click);
}

TCalibrationForm::~TCalibrationForm() = default;

QString TCalibrationForm::Decimal(const char* commaText) const {
    return QString::fromLatin1(commaText).replace(',', QChar(separator_));
}

// --- Layout ----------------------------------------------------------------------------

QGroupBox* TCalibrationForm::BuildImageGroup(const QString& caption, QPushButton*& open,
                                             QLabel*& distance, TImage*& image,
                                             const char* imageName) {
    auto* group = new QGroupBox(caption);
    auto* layout = new QGridLayout(group);
    layout->addWidget(open, 0, 0);
    layout->addWidget(distance, 0, 1);
    layout->setColumnStretch(1, 1);
    image = new CalibrationImageBox(kFrameWidth, kFrameHeight, false, imageName);
    layout->addWidget(image, 1, 0, 1, 2);
    layout->setRowStretch(1, 1);
    return group;
}

QWidget* TCalibrationForm::BuildCentrePage() {
    Button1 = Named(new QPushButton("Otevřít"), "Button1");
    Button2 = Named(new QPushButton("Otevřít"), "Button2");
    RelativeShiftLabel1 = Named(new QLabel, "RelativeShiftLabel1");
    RelativeShiftLabel2 = Named(new QLabel, "RelativeShiftLabel2");

    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(BuildImageGroup("Obraz 1", Button1, RelativeShiftLabel1, Image1, "Image1"), 0,
                    0);
    grid->addWidget(BuildImageGroup("Obraz 2", Button2, RelativeShiftLabel2, Image2, "Image2"), 0,
                    1);
    auto* overlay = new QGroupBox("SESAZENÍ");
    auto* overlayLayout = new QVBoxLayout(overlay);
    Image3 = new CalibrationImageBox(kFrameWidth, kFrameHeight, false, "Image3");
    Image3->KeepMarksVisible(); // the crimson lines and the centre
    overlayLayout->addWidget(Image3);
    grid->addWidget(overlay, 0, 2);

    // Search parameters.
    auto* parameters = new QGroupBox;
    auto* p = new QGridLayout(parameters);
    Edit1 = Edit(Decimal("0,000001"), "Edit1");
    Edit2 = Edit("50", "Edit2");
    Edit3 = Edit("9", "Edit3", 4);
    Edit5 = Edit("32", "Edit5", 4);
    Edit3->setReadOnly(true);
    Edit5->setReadOnly(true);
    UpDown1 = Named(new TUpDown(-3, 8, 0), "UpDown1");
    UpDown3 = Named(new TUpDown(-1, 5, 5), "UpDown3");
    StaticText38 = Named(new QLabel("1024"), "StaticText38");
    StaticText38->setEnabled(false);
    Button3 = Named(new QPushButton("HLEDAT"), "Button3");
    Gauge = Named(new QProgressBar, "Gauge");
    Gauge->setRange(0, 100);
    Gauge->setValue(0);
    p->addWidget(new QLabel("přesnost:"), 0, 0);
    p->addWidget(Edit1, 0, 1, 1, 2);
    p->addWidget(new QLabel("max. počet iterací:"), 1, 0);
    p->addWidget(Edit2, 1, 1, 1, 2);
    p->addWidget(new QLabel("okolí:"), 2, 0);
    p->addWidget(Edit3, 2, 1);
    p->addWidget(UpDown1, 2, 2, Qt::AlignLeft);
    p->addWidget(new QLabel("Low-Pass filtr:"), 3, 0);
    p->addWidget(Edit5, 3, 1);
    p->addWidget(UpDown3, 3, 2, Qt::AlignLeft);
    p->addWidget(new QLabel("NFFT:"), 4, 0);
    p->addWidget(StaticText38, 4, 1, 1, 2);
    p->addWidget(Button3, 5, 0, 1, 3);
    p->addWidget(Gauge, 6, 0, 1, 3);
    p->setRowStretch(7, 1);
    grid->addWidget(parameters, 1, 0);

    // Results.
    auto* results = new QGroupBox;
    auto* r = new QGridLayout(results);
    MagStaticText = StaticText("MagStaticText");
    RotStaticText = StaticText("RotStaticText");
    MagRotQualityStaticText = StaticText("MagRotQualityStaticText");
    dxStaticText = StaticText("dxStaticText");
    dyStaticText = StaticText("dyStaticText");
    TraQualityStaticText = StaticText("TraQualityStaticText");
    iterationsStaticText = StaticText("iterationsStaticText");
    xcStaticText = StaticText("xcStaticText");
    ycStaticText = StaticText("ycStaticText");
    const std::pair<const char*, QLabel*> rows[] = {{"Zvětšení:", MagStaticText},
                                                    {"Otočení:", RotStaticText},
                                                    {"Míra určení:", MagRotQualityStaticText},
                                                    {"dx = ", dxStaticText},
                                                    {"dy =", dyStaticText},
                                                    {"Míra určení:", TraQualityStaticText},
                                                    {"Počet iterací:", iterationsStaticText}};
    for (int i = 0; i < 7; ++i) {
        r->addWidget(new QLabel(rows[i].first), i, 0);
        r->addWidget(rows[i].second, i, 1);
    }
    auto* centre = new QGroupBox("Souřadnice optického středu");
    auto* c = new QGridLayout(centre);
    c->addWidget(new QLabel("xc ="), 0, 0);
    c->addWidget(xcStaticText, 0, 1);
    c->addWidget(new QLabel("yc ="), 1, 0);
    c->addWidget(ycStaticText, 1, 1);
    r->addWidget(centre, 7, 0, 1, 2);
    r->setRowStretch(8, 1);
    grid->addWidget(results, 1, 1);

    // The correlation surface at its own size: it is for looking at the peak.
    Image4 = new CalibrationImageBox(kRegistrationSize, kRegistrationSize, false, "Image4");
    Image4->setFixedSize(kRegistrationSize, kRegistrationSize);
    ScrollBox1 = Named(new QScrollArea, "ScrollBox1");
    ScrollBox1->setWidget(Image4);
    grid->addWidget(ScrollBox1, 1, 2);

    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 2);
    return page;
}

QWidget* TCalibrationForm::BuildFocalLengthPage() {
    // The input views narrow and stacked, the views worked on wide.
    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);
    auto* inputViews = new QVBoxLayout;
    auto* stripeView = new QVBoxLayout;
    columns->addLayout(inputViews, 2);
    columns->addLayout(stripeView, 3);

    auto* farther = new QGroupBox("Vzdálenější obraz");
    auto* f = new QVBoxLayout(farther);
    RelativeShiftLabel3 = Named(new QLabel, "RelativeShiftLabel3");
    Image5 = new CalibrationImageBox(kFrameWidth, kFrameHeight, true, "Image5");
    f->addWidget(RelativeShiftLabel3);
    f->addWidget(Image5);
    inputViews->addWidget(farther);

    auto* illumination = new QGroupBox("Korekce osvětlení");
    auto* i = new QGridLayout(illumination);
    Image6 = new CalibrationImageBox(kFrameWidth, kFrameHeight, true, "Image6");
    SpinEdit1 = SpinEdit("SpinEdit1", 3, camera_.largestKernel, 79, 2);
    SpinEdit2 = SpinEdit("SpinEdit2", 1, 10, 2);
    i->addWidget(Image6, 0, 0, 1, 2);
    i->addWidget(new QLabel("Velikost jádra:"), 1, 0);
    i->addWidget(SpinEdit1, 1, 1);
    i->addWidget(new QLabel("počet filtrování:"), 2, 0);
    i->addWidget(SpinEdit2, 2, 1);
    i->setRowStretch(0, 1);
    inputViews->addWidget(illumination);

    auto* stripes = new QGroupBox("Eliminace svislých čar");
    auto* s = new QGridLayout(stripes);
    Image7 = new CalibrationImageBox(kFrameWidth, kFrameHeight, true, "Image7");
    Image7->KeepMarksVisible(); // the two marker columns
    TrackBar1 = Named(new QSlider(Qt::Horizontal), "TrackBar1");
    TrackBar2 = Named(new QSlider(Qt::Horizontal), "TrackBar2");
    SpinEdit3 = SpinEdit("SpinEdit3", 0, kFrameWidth - 1, 0);
    SpinEdit4 = SpinEdit("SpinEdit4", 0, kFrameWidth - 1, 0);
    PeriodSpinEdit = SpinEdit("PeriodSpinEdit", 0, kFrameWidth - 1, 0);
    Button4 = Named(new QPushButton("ELIMINACE"), "Button4");
    Button5 = Named(new QPushButton("Zpět"), "Button5");
    s->addWidget(Image7, 0, 0, 1, 3);
    QSlider* bars[2] = {TrackBar1, TrackBar2};
    QSpinBox* mirrors[2] = {SpinEdit3, SpinEdit4};
    for (int k = 0; k < 2; ++k) {
        bars[k]->setRange(0, kFrameWidth - 1);
        s->addWidget(bars[k], 1 + k, 0, 1, 2);
        s->addWidget(mirrors[k], 1 + k, 2);
    }
    s->addWidget(new QLabel("perioda:"), 3, 0);
    s->addWidget(PeriodSpinEdit, 3, 1, 1, 2, Qt::AlignLeft);
    s->addWidget(Button4, 4, 0, 1, 2);
    s->addWidget(Button5, 4, 2);
    s->setColumnStretch(1, 1);
    s->setRowStretch(0, 1);
    stripeView->addWidget(stripes);

    // What the focal length is computed from: the centre search's results.
    StaticText17 = StaticText("StaticText17");
    StaticText19 = StaticText("StaticText19");
    dsStaticText = StaticText("dsStaticText");
    StaticText23 = StaticText("StaticText23");
    StaticText25 = StaticText("StaticText25");
    auto* inputs = new QGridLayout;
    AddFields(inputs, 0,
              {{"dx = ", StaticText17, "(px)"},
               {"dy =", StaticText19, "(px)"},
               {"ds =", dsStaticText, "(mm)"},
               {"xc = ", StaticText23, "(px)"},
               {"yc =", StaticText25, "(px)"}});
    inputs->setColumnStretch(1, 1);
    auto* inputBox = new QGroupBox;
    inputBox->setLayout(inputs);
    stripeView->addWidget(inputBox);

    auto* search = new QGroupBox("Nalezení ohniskové vzdálenosti");
    auto* n = new QVBoxLayout(search);
    Image8 = new CalibrationImageBox(kFrameWidth, kFrameHeight, true, "Image8");
    n->addWidget(Image8);
    auto* threshold = new QGroupBox("Prahování");
    auto* t = new QGridLayout(threshold);
    IterativeRadioButton = Named(new QRadioButton("iterativní"), "IterativeRadioButton");
    ManualRadioButton = Named(new QRadioButton("manuální"), "ManualRadioButton");
    SpinEdit5 = SpinEdit("SpinEdit5", 0, 255, 128);
    SpinEdit6 = SpinEdit("SpinEdit6", 0, 255, 128);
    Edit6 = Edit(Decimal("0,000001"), "Edit6");
    StaticText37 = StaticText("StaticText37");
    for (QWidget* control : {static_cast<QWidget*>(SpinEdit5), static_cast<QWidget*>(Edit6),
                             static_cast<QWidget*>(SpinEdit6)})
        control->setEnabled(false);
    t->addWidget(IterativeRadioButton, 0, 0, 1, 2);
    t->addWidget(new QLabel("t0 ="), 1, 0);
    t->addWidget(SpinEdit5, 1, 1, Qt::AlignLeft);
    t->addWidget(new QLabel("eps ="), 2, 0);
    t->addWidget(Edit6, 2, 1, Qt::AlignLeft);
    t->addWidget(new QLabel("tf ="), 3, 0);
    t->addWidget(StaticText37, 3, 1);
    t->addWidget(ManualRadioButton, 0, 2, 1, 2);
    t->addWidget(new QLabel("t ="), 1, 2);
    t->addWidget(SpinEdit6, 1, 3, Qt::AlignLeft);
    n->addWidget(threshold);
    mmStaticText = StaticText("mmStaticText");
    FocalLengthStaticText = StaticText("FocalLengthStaticText");
    Button6 = Named(new QPushButton("HLEDAT"), "Button6");
    auto* result = new QGridLayout;
    result->addWidget(new QLabel("Velikost 1mm :"), 0, 0, 1, 3);
    AddFields(result, 1, {{"mm = ", mmStaticText, "(px)"}});
    result->addWidget(new QLabel("Ohnisková vzdálenost:"), 2, 0, 1, 3);
    AddFields(result, 3, {{"f = ", FocalLengthStaticText, "(mm)"}});
    result->addWidget(Button6, 4, 0, 1, 3);
    result->setColumnStretch(1, 1);
    n->addLayout(result);
    n->addStretch();
    columns->addWidget(search, 3);
    return page;
}

QWidget* TCalibrationForm::BuildEtalonPage() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);

    auto* etalon = new QGroupBox("Etalon");
    auto* e = new QVBoxLayout(etalon);
    Button7 = Named(new QPushButton("Otevřít"), "Button7");
    Image9 = new CalibrationImageBox(kFrameWidth, kFrameHeight, false, "Image9");
    Image9->KeepMarksVisible(); // the edge rows and the centre cross
    e->addWidget(Button7, 0, Qt::AlignLeft);
    e->addWidget(Image9, 1);
    layout->addWidget(etalon, 1);

    auto* side = new QVBoxLayout;
    auto* diameter = new QHBoxLayout;
    RadiusLabeledEdit = Edit(Decimal("1,020"), "RadiusLabeledEdit", 8);
    diameter->addWidget(new QLabel("Průměr: "));
    diameter->addWidget(RadiusLabeledEdit);
    diameter->addWidget(new QLabel("mm"));
    diameter->addStretch();
    side->addLayout(diameter);

    auto* parameters = new QGroupBox;
    auto* p = new QGridLayout(parameters);
    RadioButton1 = Named(new QRadioButton("z předchozí kalibrace"), "RadioButton1");
    RadioButton2 = Named(new QRadioButton("vlastní"), "RadioButton2");
    RadioButton1->setChecked(true);
    StaticText43 = StaticText("StaticText43");
    StaticText21 = StaticText("StaticText21");
    StaticText40 = StaticText("StaticText40");
    Edit4 = Edit("23", "Edit4", 14);
    Edit7 = Edit(Decimal("327,5"), "Edit7", 14);
    Edit8 = Edit(Decimal("245,5"), "Edit8", 14);
    const char* captions[3] = {"f = ", "xc = ", "yc ="};
    const char* units[3] = {"(mm)", "(px)", "(px)"};
    QLabel* previous[3] = {StaticText43, StaticText21, StaticText40};
    QLineEdit* own[3] = {Edit4, Edit7, Edit8};
    p->addWidget(RadioButton1, 0, 0, 1, 3);
    p->addWidget(RadioButton2, 4, 0, 1, 3);
    for (int k = 0; k < 3; ++k) {
        own[k]->setEnabled(false);
        p->addWidget(new QLabel(captions[k]), 1 + k, 0, Qt::AlignRight);
        p->addWidget(previous[k], 1 + k, 1);
        p->addWidget(new QLabel(units[k]), 1 + k, 2);
        p->addWidget(new QLabel(captions[k]), 5 + k, 0, Qt::AlignRight);
        p->addWidget(own[k], 5 + k, 1);
        p->addWidget(new QLabel(units[k]), 5 + k, 2);
    }
    side->addWidget(parameters);

    const auto pair = [](const QString& caption, const char* first, QLabel*& a, const char* second,
                         QLabel*& b, const char* unit, const char* names[2]) {
        auto* group = new QGroupBox(caption);
        auto* g = new QGridLayout(group);
        a = StaticText(names[0]);
        b = StaticText(names[1]);
        g->addWidget(new QLabel(first), 0, 0, Qt::AlignRight);
        g->addWidget(a, 0, 1);
        g->addWidget(new QLabel(unit), 0, 2);
        g->addWidget(new QLabel(second), 1, 0, Qt::AlignRight);
        g->addWidget(b, 1, 1);
        g->addWidget(new QLabel(unit), 1, 2);
        return group;
    };
    const char* edgeNames[2] = {"StaticText45", "StaticText49"};
    const char* positionNames[2] = {"StaticText51", "StaticText55"};
    side->addWidget(
        pair("Pozice hran v obraze", "u =", StaticText45, "l  =", StaticText49, "(px)", edgeNames));
    // Shown while the rows above were measured between rows.
    SubPixelLabel = Named(new QLabel("Subpixelové hrany"), "SubPixelLabel");
    SubPixelLabel->setVisible(false);
    side->addWidget(SubPixelLabel);
    side->addWidget(
        pair("POZICE KAMERY", "x =", StaticText51, "y =", StaticText55, "(mm)", positionNames));
    Button8 = Named(new QPushButton("Nastavit"), "Button8");
    side->addWidget(Button8);
    side->addStretch();
    layout->addLayout(side);
    return page;
}

// --- Optical centre ------------------------------------------------------------------

void TCalibrationForm::Button1Click() {
    OpenImage(1);
}

void TCalibrationForm::Button2Click() {
    OpenImage(2);
}

void TCalibrationForm::OpenImage(int k) {
    const QString name = UserDialogs::Current().OpenFileName(this, k == 1 ? kImageFilter : "");
    if (name.isEmpty() || !QFileInfo(name).isFile()) return;
    // Read before anything changes: a file that cannot be read leaves the
    // image, its distance and the flags as they were.
    CalibrationImage frame;
    LoadCalibrationFrame(ToStd(name), frame);

    OpenedImage& opened = images_[static_cast<std::size_t>(k - 1)];
    opened.loaded = true;
    std::string text;
    const auto reading = StageReading(ToStd(QFileInfo(name).fileName()), separator_, &text);
    opened.distanceValid = reading.has_value();
    if (reading) opened.distance = static_cast<float>(*reading);
    // A name without a distance shows none, rather than the previous file's.
    opened.distanceText = reading ? FromStd(text) + " mm" : QString();
    (k == 1 ? RelativeShiftLabel1 : RelativeShiftLabel2)->setText(opened.distanceText);
    const OpenedImage &first = images_[0], &second = images_[1];
    if (first.loaded && second.loaded && first.distanceValid && second.distanceValid)
        dsStaticText->setText(
            FromStd(FormatStageDifference(first.distance, second.distance, separator_)));
    else
        dsStaticText->clear(); // so the focal length cannot use another pair's difference

    opened.image = std::move(frame);
    opened.padded.resize(static_cast<std::size_t>(kRegistrationSize) * kRegistrationSize);
    ZeroFill(opened.image.data(), kFrameWidth, kFrameHeight, kRegistrationSize,
             opened.padded.data());
    TImage* box = k == 1 ? Image1 : Image2;
    DrawCalibrationImage(opened.image, box->picture());
    box->Repaint();

    ShowFartherImage(k);
    RefreshMarkedView();
    stripesRemoved_ = false;
}

void TCalibrationForm::ShowFartherImage(int k) {
    const OpenedImage &first = images_[0], &second = images_[1];
    const int farther =
        FartherImage(first.loaded, second.loaded, first.distance, second.distance, k);
    if (farther == 0) return; // equal distances: the page keeps its image
    const OpenedImage& chosen = images_[static_cast<std::size_t>(farther - 1)];
    DrawCalibrationImage(chosen.image, Image5->picture());
    Image5->Repaint();
    RelativeShiftLabel3->setText(chosen.distanceText);
    CorrectIllumination();
    RefreshMarkedView();
}

void TCalibrationForm::UpDown1Click() {
    Edit3->setText(QString::number(RefinementWindow(UpDown1->Position())));
}

void TCalibrationForm::UpDown3Click() {
    Edit5->setText(QString::number(LowPassStrength(UpDown3->Position())));
}

void TCalibrationForm::FindCenter() {
    if (searching_) return;
    CentreSearchSettings settings;
    settings.epsilon = ParseReal(ToStd(Edit1->text()), separator_);
    settings.maximumPasses = ParseInteger(ToStd(Edit2->text()));
    settings.window = ParseInteger(ToStd(Edit3->text()));
    settings.N = ParseInteger(ToStd(StaticText38->text()));
    settings.lowPass = ParseInteger(ToStd(Edit5->text()));
    if (!images_[0].loaded || !images_[1].loaded) return;

    // The window stays responsive while the spectra are computed; what would
    // change the search's images or start a second search waits.
    QPushButton* blocked[3] = {Button1, Button2, Button3};
    searching_ = true;
    for (QPushButton* button : blocked)
        button->setEnabled(false);
    const auto finish = [&] {
        searching_ = false;
        for (QPushButton* button : blocked)
            button->setEnabled(true);
    };
    const QPointer<TCalibrationForm> alive(this);
    registration::RegistrationProgress progress;
    progress.gaugeMaximum = Gauge->maximum();
    progress.setGauge = [alive, gauge = Gauge](int position) {
        if (alive) gauge->setValue(position);
    };
    progress.processEvents = [alive] {
        QApplication::processEvents();
        if (!alive) throw WindowGone{};
    };

    CentreSearchResult result;
    bool done = false;
    try {
        done = FindCentre(images_[0].image, images_[1].image, images_[0].padded, images_[1].padded,
                          settings, result, progress);
    } catch (const WindowGone&) {
        return; // destroyed while waiting: nothing is left to show it in
    } catch (...) {
        finish();
        // A failure in the translation leaves the rotation and scale shown.
        if (result.rotationScale.magnification > 0) {
            const CentreSearchTexts texts = FormatCentreSearch(result, separator_);
            MagStaticText->setText(FromStd(texts.magnification));
            RotStaticText->setText(FromStd(texts.rotation));
            MagRotQualityStaticText->setText(FromStd(texts.rotationQuality));
        }
        throw;
    }
    finish();
    if (!done) return;

    ShowCentreTexts(result);
    centreFound_ = true;
    DrawOverlay(images_[0].image, images_[1].image, result, Image3->picture());
    Image3->Repaint();
    DrawSurface(result.surface, settings.N, Image4->picture());
    Image4->setFixedSize(Image4->picture().width, Image4->picture().height);
    Image4->Repaint();
}

void TCalibrationForm::ShowCentreTexts(const CentreSearchResult& result) {
    const CentreSearchTexts texts = FormatCentreSearch(result, separator_);
    const std::pair<const std::string*, std::vector<QLabel*>> shown[] = {
        {&texts.magnification, {MagStaticText}},
        {&texts.rotation, {RotStaticText}},
        {&texts.rotationQuality, {MagRotQualityStaticText}},
        {&texts.dx, {dxStaticText, StaticText17}},
        {&texts.dy, {dyStaticText, StaticText19}},
        {&texts.passes, {iterationsStaticText}},
        {&texts.translationQuality, {TraQualityStaticText}},
        {&texts.xc, {xcStaticText, StaticText23, StaticText21}},
        {&texts.yc, {ycStaticText, StaticText25, StaticText40}}};
    for (const auto& [text, fields] : shown)
        for (QLabel* field : fields)
            field->setText(FromStd(*text));
}

// --- Focal length ------------------------------------------------------------------

void TCalibrationForm::CorrectIllumination() {
    FitTarget(Image5, Image6);
    IlluminationCorrection(Image5->picture(), Image6->picture(), SpinEdit1->value(),
                           SpinEdit2->value());
    Image6->Repaint();
}

void TCalibrationForm::RefreshMarkedView() {
    MarkColumns(Image6->picture(), TrackBar1->value(), TrackBar2->value(), Image7->picture());
    Image7->Repaint();
}

void TCalibrationForm::SpinEdit1Change() {
    CorrectIllumination();
    RefreshMarkedView();
    stripesRemoved_ = false;
}

void TCalibrationForm::SpinEdit2Change() {
    SpinEdit1Change();
}

void TCalibrationForm::TrackBar1Change() {
    SpinEdit3->setValue(TrackBar1->value());
    PeriodSpinEdit->setValue(StripePeriod(TrackBar1->value(), TrackBar2->value()));
    // The stripe-free view stays until "Zpět" brings the marks back.
    if (!Image7->picture().Empty() && !stripesRemoved_) RefreshMarkedView();
}

void TCalibrationForm::TrackBar2Change() {
    SpinEdit4->setValue(TrackBar2->value());
    PeriodSpinEdit->setValue(StripePeriod(TrackBar1->value(), TrackBar2->value()));
    if (!Image7->picture().Empty() && !stripesRemoved_) RefreshMarkedView();
}

void TCalibrationForm::SpinEdit3Change() {
    TrackBar1->setValue(SpinEdit3->value());
}

void TCalibrationForm::SpinEdit4Change() {
    TrackBar2->setValue(SpinEdit4->value());
}

void TCalibrationForm::Button4Click() {
    FitTarget(Image6, Image7);
    SuppressStripes(Image6->picture(), Image7->picture(), PeriodSpinEdit->value());
    Image7->Repaint();
    stripesRemoved_ = true;
}

void TCalibrationForm::Button5Click() {
    if (Image7->picture().Empty()) return;
    stripesRemoved_ = false;
    RefreshMarkedView();
}

void TCalibrationForm::ThresholdIteratively() {
    const double tolerance = ParseReal(ToStd(Edit6->text()), separator_);
    FitTarget(Image7, Image8);
    const double tf = registration::IterativeThreshold(Image7->picture(), Image8->picture(),
                                                       tolerance, SpinEdit5->value());
    Image8->Repaint();
    StaticText37->setText(FromStd(FormatFixed(tf, 3, separator_)));
}

void TCalibrationForm::ThresholdManually() {
    ThresholdPicture(Image7->picture(), SpinEdit6->value(), Image8->picture());
    Image8->Repaint();
}

void TCalibrationForm::IterativeRadioButtonClick() {
    SpinEdit5->setEnabled(true);
    Edit6->setEnabled(true);
    SpinEdit6->setEnabled(false);
    thresholdReady_ = true;
    ThresholdIteratively();
}

void TCalibrationForm::SpinEdit5Change() {
    ThresholdIteratively();
}

void TCalibrationForm::ManualRadioButtonClick() {
    SpinEdit6->setEnabled(true);
    SpinEdit5->setEnabled(false);
    Edit6->setEnabled(false);
    if (Image7->picture().Empty()) return;
    ThresholdManually();
    thresholdReady_ = true;
}

void TCalibrationForm::SpinEdit6Change() {
    if (Image7->picture().Empty()) return;
    ThresholdManually();
}

void TCalibrationForm::FindFocalLength() {
    if (!thresholdReady_ || !centreFound_) return;
    FocalLengthTexts texts;
    const auto show = [&] {
        if (texts.millimetreShown) mmStaticText->setText(FromStd(texts.millimetre));
        if (texts.focalLengthShown)
            for (QLabel* field : {FocalLengthStaticText, StaticText43})
                field->setText(FromStd(texts.focalLength));
    };
    try {
        FindFocalLengthTexts(Image8->picture(), ToStd(xcStaticText->text()),
                             ToStd(ycStaticText->text()), ToStd(dsStaticText->text()),
                             ToStd(dyStaticText->text()), separator_, texts);
    } catch (...) {
        show(); // what was reached stays shown
        throw;
    }
    show();
}

// --- Etalon and hand-over ----------------------------------------------------------------

void TCalibrationForm::RadioButton1Click() {
    for (QLineEdit* edit : {Edit4, Edit7, Edit8})
        edit->setEnabled(false);
}

void TCalibrationForm::RadioButton2Click() {
    for (QLineEdit* edit : {Edit4, Edit7, Edit8})
        edit->setEnabled(true);
}

void TCalibrationForm::OpenEtalon() {
    const QString name = UserDialogs::Current().OpenFileName(this, kImageFilter);
    if (name.isEmpty() || !QFileInfo(name).isFile()) return;
    LoadFrame(ToStd(name), Image9->picture());
    const bool previous = RadioButton1->isChecked();
    // The main window's choice, so the position and the measurements that
    // use it come from the same kind of edges.
    const EdgeMode edgeMode = ChosenEdgeMode(mainWindow_);
    SubPixelLabel->setVisible(edgeMode == EdgeMode::SubPixel);
    EtalonTexts texts;
    const auto show = [&] {
        Image9->Repaint();
        if (texts.edgesShown) {
            StaticText45->setText(FromStd(texts.top));
            StaticText49->setText(FromStd(texts.bottom));
        }
        if (texts.positionShown) {
            StaticText51->setText(FromStd(texts.x));
            StaticText55->setText(FromStd(texts.y));
        }
    };
    try {
        MeasureEtalon(Image9->picture(), camera_.name,
                      ToStd((previous ? StaticText43->text() : Edit4->text())),
                      ToStd((previous ? StaticText21->text() : Edit7->text())),
                      ToStd((previous ? StaticText40->text() : Edit8->text())),
                      ToStd(RadiusLabeledEdit->text()), separator_, texts, edgeMode);
    } catch (...) {
        show();
        throw;
    }
    show();
}

void TCalibrationForm::Button8Click() {
    // Texts, not numbers: the main window gets exactly what is shown here.
    const bool previous = RadioButton1->isChecked(), own = RadioButton2->isChecked();
    const QString texts[5] = {previous ? StaticText43->text() : Edit4->text(),
                              previous ? StaticText21->text() : Edit7->text(),
                              previous ? StaticText40->text() : Edit8->text(), StaticText51->text(),
                              StaticText55->text()};
    if (mainWindow_ != nullptr) {
        for (int q = previous || own ? 0 : 3; q < 5; ++q)
            if (auto* field = mainWindow_->findChild<QLineEdit*>(camera_.targets[q]))
                field->setText(texts[q]);
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
    close();
}

// --- The three cameras ---------------------------------------------------------------------

TCAM1Form::TCAM1Form(QWidget* parent)
    : TCalibrationForm({"CAM1", {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit"}, 491},
                       parent) {}

TCAM2Form::TCAM2Form(QWidget* parent)
    : TCalibrationForm({"CAM2", {"f2Edit", "xc2Edit", "yc2Edit", "x2Edit", "y2Edit"}, 125},
                       parent) {}

TCAM3Form::TCAM3Form(QWidget* parent)
    : TCalibrationForm({"CAM3", {"f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"}, 125},
                       parent) {}
