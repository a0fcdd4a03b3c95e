#include "app/MainForm.h"

#include "app/Controls.h"
#include "app/FolderChooser.h"
#include "app/ImageBox.h"
#include "app/RadioButton.h"
#include "app/UserDialogs.h"
#include "common/DateTime.h"
#include "common/NumberText.h"
#include "measurement/Evaluation.h"
#include "measurement/Settings.h"
#include "reconstruction/ReconstructionView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

using namespace merkanix;

namespace {

const QString kDash = QStringLiteral("-");
const QString kSettingsFilter = QStringLiteral(".txt (*.txt)");
// "Uložit" writes the name as typed, with or without ".txt".
const QString kLoadSettingsFilter = kSettingsFilter + QStringLiteral(";;Všechny soubory (*)");

// The size the window has on a 1920 x 1080 screen; on a smaller one it
// takes the screen's free area less room for the window frame and title.
constexpr QSize kFullSize(1880, 960);
constexpr int kFrameAllowance = 16;
constexpr int kTitleAllowance = 40;

// A control that asks for `preferredWidth` where there is room and makes do
// with its minimum where there is not (a 1366-pixel screen).
template <typename Base> class Roomy final : public Base {
public:
    template <typename... Args>
    explicit Roomy(int preferredWidth, Args&&... args)
        : Base(std::forward<Args>(args)...), preferredWidth_(preferredWidth) {}
    QSize sizeHint() const override {
        QSize hint = Base::sizeHint();
        hint.setWidth(std::max(hint.width(), preferredWidth_));
        return hint;
    }

private:
    int preferredWidth_;
};

// The window's content. Its picture boxes keep their aspect where they can,
// but the content as a whole must not ask a scroll area for more height as
// it gets wider, or a wide window would scroll for nothing.
class WindowContent final : public QWidget {
public:
    bool hasHeightForWidth() const override { return false; }
};

QLabel* Text(const QString& text, const char* name = nullptr) {
    auto* label = new QLabel(text);
    if (name) label->setObjectName(QString::fromLatin1(name));
    return label;
}

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}
std::string ToStd(const QString& text) {
    return text.toStdString();
}

} // namespace

template <typename Sender, typename Signal>
void TMainForm::Handle(Sender* sender, Signal signal, void (TMainForm::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { RunHandler(this, [&] { (this->*handler)(); }); });
}

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    setObjectName("TMainForm");
    setWindowTitle("Merkana");

    auto* viewsRow = new QHBoxLayout;
    viewsRow->addWidget(BuildCameraView("CAM1", Image1));
    viewsRow->addWidget(BuildCameraView("CAM2", Image2));
    viewsRow->addWidget(BuildCameraView("CAM3", Image3));
    Image1->setObjectName("Image1");
    Image2->setObjectName("Image2");
    Image3->setObjectName("Image3");

    viewsRow->addWidget(BuildReconstructionView());

    auto* lowerRow = new QHBoxLayout;
    lowerRow->addWidget(BuildCameraSettings());
    lowerRow->addWidget(BuildResultPanel(), 1);

    auto* right = new QVBoxLayout;
    right->addLayout(viewsRow, 1);
    right->addLayout(lowerRow);

    // The whole window scrolls where the screen is too small even for its
    // least size; on larger screens no scroll bar shows.
    auto* content = new WindowContent;
    auto* top = new QHBoxLayout(content);
    top->addWidget(BuildFrameSelection());
    top->addLayout(right, 1);
    auto* scrolled = new QWidget;
    auto* holder = new QVBoxLayout(scrolled);
    holder->setContentsMargins(0, 0, 0, 0);
    holder->addWidget(content);
    auto* scroll = Named(new QScrollArea, "ScrollBox");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(scrolled);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    Handle(CheckBox1, &QCheckBox::clicked, &TMainForm::SortOut);
    Handle(SubPixelCheckBox, &QCheckBox::clicked, &TMainForm::WriteOut);
    // Every change of the highlighted triple evaluates it, by mouse or by
    // keys; a click that changed nothing evaluates the triple again (with the
    // texts as they now stand).
    Handle(ListBox1, &QListWidget::itemSelectionChanged, &TMainForm::WriteOut);
    connect(ListBox1, &QListWidget::itemClicked, this, [this] {
        if (!evaluatedSincePress_) RunHandler(this, [this] { WriteOut(); });
    });
    Handle(ListBox1, &QListWidget::itemActivated, &TMainForm::WriteOut);
    ListBox1->viewport()->installEventFilter(this);
    Handle(RadioButton1, &QRadioButton::clicked, &TMainForm::RadioButton1Click);
    Handle(RadioButton1, &TRadioButton::doubleClicked, &TMainForm::RadioButton1DblClick);
    Handle(RadioButton2, &QRadioButton::clicked, &TMainForm::RadioButton2Click);
    Handle(RadioButton3, &QRadioButton::clicked, &TMainForm::RadioButton3Click);
    Handle(RadioButton3, &TRadioButton::doubleClicked, &TMainForm::RadioButton3DblClick);
    Handle(RadioButton4, &QRadioButton::clicked, &TMainForm::RadioButton4Click);
    Handle(RadioButton5, &QRadioButton::clicked, &TMainForm::RadioButton5Click);
    Handle(RadioButton5, &TRadioButton::doubleClicked, &TMainForm::RadioButton5DblClick);
    Handle(RadioButton6, &QRadioButton::clicked, &TMainForm::RadioButton6Click);
    Handle(RadioButton7, &QRadioButton::clicked, &TMainForm::RadioButton7Click);
    Handle(RadioButton7, &TRadioButton::doubleClicked, &TMainForm::RadioButton7DblClick);
    Handle(TrackBar1, &QSlider::valueChanged, &TMainForm::VisualFibreChange);
    Handle(FibreCheckBox, &QCheckBox::clicked, &TMainForm::FibreCheckBoxClick);
    Handle(Ellipse1CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse1CheckBoxClick);
    Handle(Ellipse2CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse2CheckBoxClick);
    Handle(Ellipse3CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse3CheckBoxClick);
    Handle(Ellipse4CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse4CheckBoxClick);
    Handle(Ellipse5CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse5CheckBoxClick);
    Handle(Ellipse6CheckBox, &QCheckBox::clicked, &TMainForm::Ellipse6CheckBoxClick);
    Handle(Button1, &QPushButton::clicked, &TMainForm::LoadSettings);
    Handle(Button2, &QPushButton::clicked, &TMainForm::SaveSettings);
}

QGroupBox* TMainForm::BuildFrameSelection() {
    auto* group = new Roomy<QGroupBox>(370, "Výběr snímků");
    group->setMaximumWidth(370);
    auto* layout = new QVBoxLayout(group);
    folders_ = new TFolderChooser(this, "DriveComboBox1", "DirectoryListBox1", "FileListBox1");
    FileListBox1 = folders_->Files();
    folders_->AddTo(layout);

    const TripleSearchControls search = AddTripleSearch(layout, "LabeledEdit1", "čas. tolerance:");
    LabeledEdit1 = search.tolerance;
    CheckBox1 = search.find;
    ListBox1 = search.triples;

    auto* details = new QGridLayout;
    details->addWidget(new QLabel("Datum pořízení:"), 0, 0, 1, 4);
    Label1 = Text(kDash, "Label1");
    Label2 = Text(kDash, "Label2");
    Label3 = Text(kDash, "Label3");
    Label4 = Text(kDash, "Label4");
    QLabel* dates[3] = {Label1, Label2, Label3};
    for (int k = 0; k < 3; ++k) {
        details->addWidget(new QLabel(QString("CAM%1:").arg(k + 1)), 1 + k, 0);
        details->addWidget(dates[k], 1 + k, 1, 1, 3);
    }
    // Across the columns, so that the first column is no wider than "CAM1:"
    // and the edge rows keep their room on a small screen.
    auto* span = new QHBoxLayout;
    span->addWidget(new QLabel("Čas. rozpětí:"));
    span->addWidget(Label4, 1);
    details->addLayout(span, 4, 0, 1, 4);
    details->addWidget(new QLabel("Hrany v obraze:"), 5, 0, 1, 2);
    // Not part of the settings file: a session's choice, off at every start.
    SubPixelCheckBox = Named(new QCheckBox("Subpixelové hrany"), "SubPixelCheckBox");
    details->addWidget(SubPixelCheckBox, 5, 2, 1, 2);
    Label51 = Text(kDash, "Label51");
    Label52 = Text(kDash, "Label52");
    Label53 = Text(kDash, "Label53");
    Label54 = Text(kDash, "Label54");
    Label55 = Text(kDash, "Label55");
    Label56 = Text(kDash, "Label56");
    edgeLabels_ = {Label51, Label52, Label53, Label54, Label55, Label56};
    for (int k = 0; k < 3; ++k) {
        details->addWidget(new QLabel(QString("CAM%1:").arg(k + 1)), 6 + k, 0);
        details->addWidget(edgeLabels_[2 * k], 6 + k, 1);
        details->addWidget(edgeLabels_[2 * k + 1], 6 + k, 2);
        details->addWidget(new QLabel("px"), 6 + k, 3);
    }
    details->setColumnStretch(1, 1);
    details->setColumnStretch(2, 1);
    layout->addLayout(details);
    return group;
}

QGroupBox* TMainForm::BuildCameraSettings() {
    auto* group = new QGroupBox("Nastavení kamerového systému");
    auto* layout = new QGridLayout(group);
    const SystemTexts defaults = DefaultCameraTexts(LocaleSeparator());
    TRadioButton** radios[6] = {&RadioButton1, &RadioButton2, &RadioButton3,
                                &RadioButton4, &RadioButton5, &RadioButton6};
    QLineEdit** edits[3][5] = {{&f1Edit, &xc1Edit, &yc1Edit, &x1Edit, &y1Edit},
                               {&f2Edit, &xc2Edit, &yc2Edit, &x2Edit, &y2Edit},
                               {&f3Edit, &xc3Edit, &yc3Edit, &x3Edit, &y3Edit}};
    static const char* const kEditNames[3][5] = {
        {"f1Edit", "xc1Edit", "yc1Edit", "x1Edit", "y1Edit"},
        {"f2Edit", "xc2Edit", "yc2Edit", "x2Edit", "y2Edit"},
        {"f3Edit", "xc3Edit", "yc3Edit", "x3Edit", "y3Edit"}};
    static const char* const kQuantities[5] = {"f", "xc", "yc", "x", "y"};
    static const char* const kUnits[5] = {"(mm)", "(px)", "(px)", "(mm)", "(mm)"};
    const QFontMetrics metrics = group->fontMetrics();
    const int wholeValue = metrics.horizontalAdvance("-46,0193228167378") + 16;
    const int firstDigits = metrics.horizontalAdvance("-46,01") + 16;
    for (int k = 0; k < 3; ++k) {
        auto* box = new QGroupBox(QString("CAM%1").arg(k + 1));
        auto* boxLayout = new QGridLayout(box);
        *radios[2 * k] = Named(new TRadioButton("mm papír"),
                               qPrintable(QString("RadioButton%1").arg(2 * k + 1)));
        *radios[2 * k + 1] =
            Named(new TRadioButton("vlastní"), qPrintable(QString("RadioButton%1").arg(2 * k + 2)));
        boxLayout->addWidget(*radios[2 * k], 0, 0, 1, 3);
        boxLayout->addWidget(*radios[2 * k + 1], 1, 0, 1, 3);
        const std::string* texts[5] = {&defaults[k].f, &defaults[k].xc, &defaults[k].yc,
                                       &defaults[k].x, &defaults[k].y};
        for (int q = 0; q < 5; ++q) {
            // The whole start value where there is room; its first digits at least.
            auto* edit =
                Named(new Roomy<QLineEdit>(wholeValue, FromStd(*texts[q])), kEditNames[k][q]);
            edit->setMinimumWidth(firstDigits);
            edit->setEnabled(false);
            // A text set from elsewhere (a file, a calibration window) shows
            // from its start when the box is narrower than the text.
            connect(edit, &QLineEdit::textChanged, edit, [edit] {
                if (!edit->hasFocus()) edit->setCursorPosition(0);
            });
            edit->setCursorPosition(0);
            *edits[k][q] = edit;
            cameraEdits_[k][q] = edit;
            boxLayout->addWidget(new QLabel(kQuantities[q]), 2 + q, 0);
            boxLayout->addWidget(edit, 2 + q, 1);
            boxLayout->addWidget(new QLabel(kUnits[q]), 2 + q, 2);
        }
        layout->addWidget(box, 0, k);
    }
    RadioButton7 = Named(new TRadioButton("Gradientním spádem"), "RadioButton7");
    Button1 = Named(new QPushButton("Načíst"), "Button1");
    Button2 = Named(new QPushButton("Uložit"), "Button2");
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(RadioButton7);
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    layout->addLayout(bottom, 1, 0, 1, 3);
    return group;
}

QGroupBox* TMainForm::BuildResultPanel() {
    auto* group = new QGroupBox;
    auto* layout = new QGridLayout(group);
    const char* headings[5] = {"střed [mm]", "a [mm]", "b [mm]", "natočení [°]", "průměr [mm]"};
    for (int c = 0; c < 5; ++c)
        layout->addWidget(new QLabel(headings[c]), 0, 1 + c);

    FibreCheckBox = Named(new QCheckBox("VLÁKNO"), "FibreCheckBox");
    FibreCheckBox->setChecked(true);
    FibreCheckBox->setStyleSheet("color: maroon;");
    FibreCenterStaticText = Text(kDash, "FibreCenterStaticText");
    FibreaStaticText = Text(kDash, "FibreaStaticText");
    FibrebStaticText = Text(kDash, "FibrebStaticText");
    FibreAngleStaticText = Text(kDash, "FibreAngleStaticText");
    DiameterStaticText = Text(kDash, "DiameterStaticText");
    QLabel* fibreRow[5] = {FibreCenterStaticText, FibreaStaticText, FibrebStaticText,
                           FibreAngleStaticText, DiameterStaticText};
    layout->addWidget(FibreCheckBox, 1, 0);
    for (int c = 0; c < 5; ++c) {
        fibreRow[c]->setStyleSheet("color: red;");
        layout->addWidget(fibreRow[c], 1, 1 + c);
    }

    QCheckBox** checks[6] = {&Ellipse1CheckBox, &Ellipse2CheckBox, &Ellipse3CheckBox,
                             &Ellipse4CheckBox, &Ellipse5CheckBox, &Ellipse6CheckBox};
    QLabel** texts[6][4] = {{&Ellipse1CenterStaticText, &Ellipse1aStaticText, &Ellipse1bStaticText,
                             &Ellipse1AngleStaticText},
                            {&Ellipse2CenterStaticText, &Ellipse2aStaticText, &Ellipse2bStaticText,
                             &Ellipse2AngleStaticText},
                            {&Ellipse3CenterStaticText, &Ellipse3aStaticText, &Ellipse3bStaticText,
                             &Ellipse3AngleStaticText},
                            {&Ellipse4CenterStaticText, &Ellipse4aStaticText, &Ellipse4bStaticText,
                             &Ellipse4AngleStaticText},
                            {&Ellipse5CenterStaticText, &Ellipse5aStaticText, &Ellipse5bStaticText,
                             &Ellipse5AngleStaticText},
                            {&Ellipse6CenterStaticText, &Ellipse6aStaticText, &Ellipse6bStaticText,
                             &Ellipse6AngleStaticText}};
    static const char* const kFields[4] = {"CenterStaticText", "aStaticText", "bStaticText",
                                           "AngleStaticText"};
    for (int k = 0; k < 6; ++k) {
        const QString prefix = QString("Ellipse%1").arg(k + 1);
        *checks[k] =
            Named(new QCheckBox(QString("Elipsa %1").arg(k + 1)), qPrintable(prefix + "CheckBox"));
        ellipseChecks_[k] = *checks[k];
        layout->addWidget(*checks[k], 2 + k, 0);
        for (int f = 0; f < 4; ++f) {
            *texts[k][f] = Text(kDash, qPrintable(prefix + kFields[f]));
            ellipseTexts_[k][f] = *texts[k][f];
            layout->addWidget(*texts[k][f], 2 + k, 1 + f);
        }
    }
    const QFontMetrics metrics = group->fontMetrics();
    layout->setColumnMinimumWidth(1, metrics.horizontalAdvance("[-0,0000 ; -0,0000]") + 12);
    for (int c = 2; c <= 5; ++c)
        layout->setColumnMinimumWidth(c, metrics.horizontalAdvance("000,00") + 12);
    layout->setRowStretch(8, 1);
    return group;
}

QGroupBox* TMainForm::BuildReconstructionView() {
    auto* group = new QGroupBox("VLÁKNO");
    auto* layout = new QHBoxLayout(group);
    EllipseImage = Named(new TImage(492, 492), "EllipseImage");
    EllipseImage->setMinimumSize(320, 246); // lower where the screen is low
    TrackBar1 = Named(new QSlider(Qt::Vertical), "TrackBar1");
    TrackBar1->setRange(1, 500);
    TrackBar1->setValue(100);
    TrackBar1->setTickPosition(QSlider::TicksLeft);
    TrackBar1->setTickInterval(50);
    TrackBar1->setInvertedAppearance(true); // the minimum at the top, as the track bar stands
    Edit1 = Named(new QLineEdit("100x"), "Edit1");
    Edit1->setFixedWidth(Edit1->fontMetrics().horizontalAdvance("500x") + 16);
    auto* zoom = new QVBoxLayout;
    zoom->addWidget(TrackBar1, 1);
    zoom->addWidget(Edit1);
    layout->addWidget(EllipseImage, 1);
    layout->addLayout(zoom);
    return group;
}

QGroupBox* TMainForm::BuildCameraView(const QString& caption, TImage*& image) {
    auto* group = new QGroupBox(caption);
    auto* layout = new QVBoxLayout(group);
    image = new TImage(656, 492);
    image->KeepMarksVisible(); // the edge rows and the centre cross
    layout->addWidget(image);
    return group;
}

void TMainForm::SetSecondaryWindows(QWidget* cam1, QWidget* cam2, QWidget* cam3,
                                    QWidget* optimisation) {
    cam1Form_ = cam1;
    cam2Form_ = cam2;
    cam3Form_ = cam3;
    optimisationForm_ = optimisation;
}

char TMainForm::LocaleSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode())
                                                         : '.';
}

void TMainForm::ChooseFolder(const QString& folder) {
    folders_->ChooseFolder(folder);
}

QString TMainForm::CurrentFolder() const {
    return folders_->CurrentFolder();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == ListBox1->viewport() &&
        (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick))
        evaluatedSincePress_ = false;
    return QWidget::eventFilter(watched, event);
}

QSize TMainForm::SizeForScreen(const QSize& available) {
    return kFullSize.boundedTo(available - QSize(kFrameAllowance, kTitleAllowance));
}

void TMainForm::ResizeToScreen() {
    // The offscreen platform's screen is a stand-in of 800 x 600 that no user
    // has: a picture taken there shows the window as on a full-HD screen.
    const QScreen* shownOn = screen();
    if (shownOn == nullptr || QGuiApplication::platformName() == QLatin1String("offscreen"))
        resize(kFullSize);
    else
        resize(SizeForScreen(shownOn->availableGeometry().size()));
}

void TMainForm::SortOut() {
    if (!CheckBox1->isChecked()) {
        ListBox1->clear();
        for (QLabel* label : {Label1, Label2, Label3, Label4})
            label->setText(kDash);
        FileListBox1->clearSelection();
        return;
    }
    const std::vector<std::string> names = folders_->FileNames();
    ListBox1->clear();
    triples_.clear();
    triples_ = FindTriples(ToStd(folders_->CurrentFolder()), names, ToStd(LabeledEdit1->text()),
                           LocaleSeparator());
    QStringList entries;
    entries.reserve(static_cast<qsizetype>(triples_.size()));
    for (std::size_t i = 1; i <= triples_.size(); ++i)
        entries << QString::number(i);
    ListBox1->addItems(entries);
}

void TMainForm::WriteOut() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (selected.size() != 1) return;
    const int k = ListBox1->row(selected.front());
    if (k < 0 || static_cast<std::size_t>(k) >= triples_.size()) return;
    evaluatedSincePress_ = true;
    const FrameTriple& triple = triples_[static_cast<std::size_t>(k)];

    const SystemTexts texts = CameraTexts();
    const char sep = LocaleSeparator();
    TImage* images[3] = {Image1, Image2, Image3};
    TripleEvaluation result;
    for (int c = 0; c < 3; ++c)
        result.views[c].Resize(images[c]->picture().width, images[c]->picture().height);
    std::exception_ptr failure;
    try {
        EvaluateTriple(triple, texts, sep, true, result, EdgeModeChosen());
    } catch (...) {
        failure = std::current_exception();
    }

    // Everything the evaluation reached is shown, the rest keeps its old text.
    for (int c = 0; c < result.viewsLoaded; ++c) {
        std::swap(images[c]->picture(), result.views[c]);
        images[c]->Repaint();
    }
    if (result.viewsLoaded == 3) {
        QLabel* dates[3] = {Label1, Label2, Label3};
        for (int c = 0; c < 3; ++c) {
            const DateTimeParts p = DecodeDateTime(triple.time[c]);
            dates[c]->setText(
                QLocale().toString(QDate(p.year, p.month, p.day), QLocale::ShortFormat) + ", " +
                FromStd(TimeText(triple.time[c])));
        }
        Label4->setText(FromStd(FormatSpan(triple.span)));
    }
    for (int c = 0; c < result.edgesFound; ++c) {
        edgeLabels_[2 * c]->setText(FromStd(FormatGeneral(result.edges[c].top, sep)));
        edgeLabels_[2 * c + 1]->setText(FromStd(FormatGeneral(result.edges[c].bottom, sep)));
    }
    if (result.reconstructed) {
        reconstruction_ = result.state;
        Redraw();
        for (int e = 0; e < 6; ++e) {
            const EllipseTexts row = FormatEllipseRow(reconstruction_.ellipses[e], sep);
            const std::string* fields[4] = {&row.centre, &row.a, &row.b, &row.angle};
            for (int f = 0; f < 4; ++f)
                ellipseTexts_[e][f]->setText(FromStd(*fields[f]));
        }
        const EllipseTexts fibre = FormatEllipseRow(reconstruction_.fibre, sep);
        FibreCenterStaticText->setText(FromStd(fibre.centre));
        FibreaStaticText->setText(FromStd(fibre.a));
        FibrebStaticText->setText(FromStd(fibre.b));
        FibreAngleStaticText->setText(FromStd(fibre.angle));
        DiameterStaticText->setText(FromStd(FormatDiameter(reconstruction_.fibre, sep)));
    }
    if (failure) std::rethrow_exception(failure);
}

EdgeMode TMainForm::EdgeModeChosen() const {
    return SubPixelCheckBox->isChecked() ? EdgeMode::SubPixel : EdgeMode::WholeRows;
}

SystemTexts TMainForm::CameraTexts() const {
    SystemTexts texts;
    for (int c = 0; c < 3; ++c)
        texts[c] = {ToStd(cameraEdits_[c][0]->text()), ToStd(cameraEdits_[c][1]->text()),
                    ToStd(cameraEdits_[c][2]->text()), ToStd(cameraEdits_[c][3]->text()),
                    ToStd(cameraEdits_[c][4]->text())};
    return texts;
}

void TMainForm::Redraw() {
    RingChoice rings;
    for (int k = 0; k < 6; ++k)
        rings.ellipses[k] = ellipseChecks_[k]->isChecked();
    rings.fibre = FibreCheckBox->isChecked();
    DrawReconstruction(EllipseImage->picture(), reconstruction_, TrackBar1->value(), 2.0, rings);
    EllipseImage->Repaint();
}

void TMainForm::SetCameraEditsEnabled(int camera, bool enabled) {
    for (QLineEdit* edit : cameraEdits_[camera])
        edit->setEnabled(enabled);
}

void TMainForm::ShowWindow(QWidget* window) {
    if (window == nullptr) return;
    window->show();
    window->raise();
    window->activateWindow();
}

void TMainForm::RadioButton1Click() {
    ShowWindow(cam1Form_);
    SetCameraEditsEnabled(0, false);
}

void TMainForm::RadioButton1DblClick() {
    RadioButton1Click();
    RadioButton7->Clear();
}

void TMainForm::RadioButton2Click() {
    SetCameraEditsEnabled(0, true);
    RadioButton7->Clear();
}

void TMainForm::RadioButton3Click() {
    ShowWindow(cam2Form_);
    SetCameraEditsEnabled(1, false);
    RadioButton7->Clear();
}

void TMainForm::RadioButton3DblClick() {
    RadioButton3Click();
}

void TMainForm::RadioButton4Click() {
    SetCameraEditsEnabled(1, true);
    RadioButton7->Clear();
}

void TMainForm::RadioButton5Click() {
    ShowWindow(cam3Form_);
    SetCameraEditsEnabled(2, false);
    RadioButton7->Clear();
}

void TMainForm::RadioButton5DblClick() {
    RadioButton5Click();
}

void TMainForm::RadioButton6Click() {
    SetCameraEditsEnabled(2, true);
    RadioButton7->Clear();
}

void TMainForm::RadioButton7Click() {
    ShowWindow(optimisationForm_);
    for (TRadioButton* radio :
         {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5, RadioButton6})
        radio->Clear();
    for (int c = 0; c < 3; ++c)
        SetCameraEditsEnabled(c, false);
}

void TMainForm::RadioButton7DblClick() {
    RadioButton7Click();
}

void TMainForm::VisualFibreChange() {
    Redraw();
    Edit1->setText(QString::number(TrackBar1->value()) + "x");
}

void TMainForm::FibreCheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse1CheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse2CheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse3CheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse4CheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse5CheckBoxClick() {
    Redraw();
}
void TMainForm::Ellipse6CheckBoxClick() {
    Redraw();
}

void TMainForm::LoadSettings() {
    const QString name = UserDialogs::Current().OpenFileName(this, kLoadSettingsFilter);
    if (name.isEmpty() || !QFileInfo(name).isFile()) return;
    const SystemTexts texts = ReadSettingsFile(ToStd(name));
    for (int c = 0; c < 3; ++c) {
        const std::string* values[5] = {&texts[c].f, &texts[c].xc, &texts[c].yc, &texts[c].x,
                                        &texts[c].y};
        for (int q = 0; q < 5; ++q)
            cameraEdits_[c][q]->setText(FromStd(*values[q]));
    }
}

void TMainForm::SaveSettings() {
    const SystemTexts texts = CameraTexts();
    const QString name = UserDialogs::Current().SaveFileName(this, kSettingsFilter);
    if (name.isEmpty()) return;
    WriteSettingsFile(ToStd(name), texts);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // The main window's close ends the program, whatever else is open.
    event->accept();
    QApplication::quit();
}
