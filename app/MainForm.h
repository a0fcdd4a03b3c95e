#pragma once
// The main window "Merkana": frame folder and triples, camera settings, the
// three camera views, the result panel and the reconstruction view.
#include "measurement/Edges.h"
#include "measurement/Settings.h"
#include "measurement/Triples.h"
#include "reconstruction/EllipseUnit.h"

#include <QWidget>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class TFolderChooser;
class TImage;
class TRadioButton;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);

    // The windows the radio buttons show.
    void SetSecondaryWindows(QWidget* cam1, QWidget* cam2, QWidget* cam3, QWidget* optimisation);

    // 1880 x 960, as on a 1920 x 1080 screen, or what a smaller screen has room for.
    void ResizeToScreen();
    // The window's size on a screen whose free area (without its panels) is `available`.
    static QSize SizeForScreen(const QSize& available);

    // Chooses a folder as the drive box and folder tree would, and keeps it
    // in view in the tree while the tree fills.
    void ChooseFolder(const QString& folder);
    QString CurrentFolder() const;

    const merkanix::TripleList& Triples() const { return triples_; }
    const merkanix::ReconstructionState& Reconstruction() const { return reconstruction_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void SortOut();
    void WriteOut();
    void RadioButton1Click();
    void RadioButton1DblClick();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton3DblClick();
    void RadioButton4Click();
    void RadioButton5Click();
    void RadioButton5DblClick();
    void RadioButton6Click();
    void RadioButton7Click();
    void RadioButton7DblClick();
    void VisualFibreChange();
    void FibreCheckBoxClick();
    void Ellipse1CheckBoxClick();
    void Ellipse2CheckBoxClick();
    void Ellipse3CheckBoxClick();
    void Ellipse4CheckBoxClick();
    void Ellipse5CheckBoxClick();
    void Ellipse6CheckBoxClick();
    void LoadSettings();
    void SaveSettings();

private:
    // The user's decimal separator ('.' when the locale's is not one ASCII character).
    static char LocaleSeparator();

    QGroupBox* BuildFrameSelection();
    QGroupBox* BuildCameraSettings();
    QGroupBox* BuildResultPanel();
    QGroupBox* BuildReconstructionView();
    QGroupBox* BuildCameraView(const QString& caption, TImage*& image);

    void Redraw();
    merkanix::SystemTexts CameraTexts() const; // the fifteen camera texts as they stand
    // The edge mode chosen by "Subpixelové hrany"; the calibration and
    // optimisation windows read the same box, so one session uses one mode.
    merkanix::EdgeMode EdgeModeChosen() const;
    void SetCameraEditsEnabled(int camera, bool enabled);
    void ShowWindow(QWidget* window);

    // Connects a control's signal to a handler that runs guarded.
    template <typename Sender, typename Signal>
    void Handle(Sender* sender, Signal signal, void (TMainForm::*handler)());

    // Frame selection.
    TFolderChooser* folders_; // DriveComboBox1, DirectoryListBox1, FileListBox1
    QListWidget* FileListBox1;
    QLineEdit* LabeledEdit1;
    QCheckBox* CheckBox1;
    QCheckBox* SubPixelCheckBox; // edges between rows for every edge measurement
    QListWidget* ListBox1;
    QLabel *Label1, *Label2, *Label3, *Label4;
    QLabel *Label51, *Label52, *Label53, *Label54, *Label55, *Label56;

    // Camera-system settings.
    TRadioButton *RadioButton1, *RadioButton2, *RadioButton3, *RadioButton4, *RadioButton5,
        *RadioButton6, *RadioButton7;
    QLineEdit *f1Edit, *xc1Edit, *yc1Edit, *x1Edit, *y1Edit;
    QLineEdit *f2Edit, *xc2Edit, *yc2Edit, *x2Edit, *y2Edit;
    QLineEdit *f3Edit, *xc3Edit, *yc3Edit, *x3Edit, *y3Edit;
    QPushButton *Button1, *Button2;

    // Camera views and the reconstruction view.
    TImage *Image1, *Image2, *Image3, *EllipseImage;
    QSlider* TrackBar1;
    QLineEdit* Edit1;

    // Result panel.
    QCheckBox* FibreCheckBox;
    QCheckBox *Ellipse1CheckBox, *Ellipse2CheckBox, *Ellipse3CheckBox, *Ellipse4CheckBox,
        *Ellipse5CheckBox, *Ellipse6CheckBox;
    QLabel *FibreCenterStaticText, *FibreaStaticText, *FibrebStaticText, *FibreAngleStaticText,
        *DiameterStaticText;
    QLabel *Ellipse1CenterStaticText, *Ellipse1aStaticText, *Ellipse1bStaticText,
        *Ellipse1AngleStaticText;
    QLabel *Ellipse2CenterStaticText, *Ellipse2aStaticText, *Ellipse2bStaticText,
        *Ellipse2AngleStaticText;
    QLabel *Ellipse3CenterStaticText, *Ellipse3aStaticText, *Ellipse3bStaticText,
        *Ellipse3AngleStaticText;
    QLabel *Ellipse4CenterStaticText, *Ellipse4aStaticText, *Ellipse4bStaticText,
        *Ellipse4AngleStaticText;
    QLabel *Ellipse5CenterStaticText, *Ellipse5aStaticText, *Ellipse5bStaticText,
        *Ellipse5AngleStaticText;
    QLabel *Ellipse6CenterStaticText, *Ellipse6aStaticText, *Ellipse6bStaticText,
        *Ellipse6AngleStaticText;

    std::array<std::array<QLineEdit*, 5>, 3> cameraEdits_{};
    std::array<std::array<QLabel*, 4>, 6> ellipseTexts_{};
    std::array<QCheckBox*, 6> ellipseChecks_{};
    std::array<QLabel*, 6> edgeLabels_{};

    bool evaluatedSincePress_ = false; // a triple was evaluated since the last mouse press
    QWidget* cam1Form_ = nullptr;
    QWidget* cam2Form_ = nullptr;
    QWidget* cam3Form_ = nullptr;
    QWidget* optimisationForm_ = nullptr;

    merkanix::TripleList triples_;
    merkanix::ReconstructionState reconstruction_;
};
