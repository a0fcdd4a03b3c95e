#pragma once
// The calibration window of one camera, on three pages: the optical centre
// from two images of millimetre paper taken at two stage positions, the
// focal length from the farther one, and the camera's position from an
// image of an etalon, which "Nastavit" hands to the main window. The three
// cameras' windows differ only in what CalibrationCamera holds.
#include "calibration/CalibrationUnit.h"

#include <QWidget>
#include <array>

namespace merkanix {
struct CentreSearchResult;
}

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTabWidget;
class TImage;
class TUpDown;

struct CalibrationCamera {
    const char* name;                   // "CAM1": the camera whose position is computed
    std::array<const char*, 5> targets; // the main window's f, xc, yc, x and y edits
    int largestKernel;                  // of "Velikost jádra:"
};

class TCalibrationForm : public QWidget {
    Q_OBJECT
public:
    TCalibrationForm(const CalibrationCamera& camera, QWidget* parent = nullptr);
    ~TCalibrationForm() override;

    // The window "Nastavit" fills (its edit boxes are found by name) and brings forward.
    void SetMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }
    bool Searching() const { return searching_; }

private slots:
    // Optical centre.
    void Button1Click();
    void Button2Click();
    void UpDown1Click();
    void UpDown3Click();
    void FindCenter();
    // Focal length.
    void SpinEdit1Change();
    void SpinEdit2Change();
    void TrackBar1Change();
    void TrackBar2Change();
    void SpinEdit3Change();
    void SpinEdit4Change();
    void Button4Click();
    void Button5Click();
    void IterativeRadioButtonClick();
    void SpinEdit5Change();
    void ManualRadioButtonClick();
    void SpinEdit6Change();
    void FindFocalLength();
    // Etalon and hand-over.
    void OpenEtalon();
    void RadioButton1Click();
    void RadioButton2Click();
    void Button8Click();

private:
    // One calibration image with what its file name said.
    struct OpenedImage {
        bool loaded = false;
        merkanix::CalibrationImage image; // 656 x 492
        std::vector<float> padded;        // N x N
        float distance = 0.0f;            // stage reading, mm
        bool distanceValid = false;
        QString distanceText; // the characters read from the name
    };

    QWidget* BuildCentrePage();
    QWidget* BuildFocalLengthPage();
    QWidget* BuildEtalonPage();
    QGroupBox* BuildImageGroup(const QString& caption, QPushButton*& open, QLabel*& distance,
                               TImage*& image, const char* imageName);

    template <typename Sender, typename Signal>
    void Handle(Sender* sender, Signal signal, void (TCalibrationForm::*handler)());

    void OpenImage(int k); // Button1Click and Button2Click
    void ShowFartherImage(int k);
    void CorrectIllumination();
    void RefreshMarkedView();
    void ThresholdIteratively();
    void ThresholdManually();
    void ShowCentreTexts(const merkanix::CentreSearchResult& result);
    QString Decimal(const char* commaText) const; // a default text in the user's format

    const CalibrationCamera camera_;
    const char separator_; // the user's decimal separator, read once
    QWidget* mainWindow_ = nullptr;

    QTabWidget* PageControl1;

    // "Optický střed".
    QPushButton *Button1, *Button2, *Button3;
    TImage *Image1, *Image2, *Image3, *Image4;
    QLabel *RelativeShiftLabel1, *RelativeShiftLabel2;
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit5;
    TUpDown *UpDown1, *UpDown3;
    QLabel* StaticText38;
    QProgressBar* Gauge;
    QLabel *MagStaticText, *RotStaticText, *MagRotQualityStaticText;
    QLabel *dxStaticText, *dyStaticText, *TraQualityStaticText, *iterationsStaticText;
    QLabel *xcStaticText, *ycStaticText;
    QScrollArea* ScrollBox1;

    // "Ohnisková vzdálenost".
    TImage *Image5, *Image6, *Image7, *Image8;
    QLabel* RelativeShiftLabel3;
    QSpinBox *SpinEdit1, *SpinEdit2, *SpinEdit3, *SpinEdit4, *PeriodSpinEdit;
    QSlider *TrackBar1, *TrackBar2;
    QPushButton *Button4, *Button5, *Button6;
    QRadioButton *IterativeRadioButton, *ManualRadioButton;
    QSpinBox *SpinEdit5, *SpinEdit6;
    QLineEdit* Edit6;
    QLabel* StaticText37;
    QLabel *StaticText17, *StaticText19, *dsStaticText, *StaticText23, *StaticText25;
    QLabel *mmStaticText, *FocalLengthStaticText;

    // "Sesazení podle etalonu".
    TImage* Image9;
    QPushButton *Button7, *Button8;
    QLineEdit* RadiusLabeledEdit;
    QRadioButton *RadioButton1, *RadioButton2;
    QLabel *StaticText43, *StaticText21, *StaticText40;
    QLineEdit *Edit4, *Edit7, *Edit8;
    QLabel *StaticText51, *StaticText55, *StaticText45, *StaticText49;
    QLabel* SubPixelLabel; // "Subpixelové hrany" while the etalon edges are between rows

    // Window state.
    std::array<OpenedImage, 2> images_;
    bool centreFound_ = false;
    bool thresholdReady_ = false;
    bool stripesRemoved_ = false;
    bool searching_ = false;
};

class TCAM1Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM1Form(QWidget* parent = nullptr);
};

class TCAM2Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM2Form(QWidget* parent = nullptr);
};

class TCAM3Form : public TCalibrationForm {
    Q_OBJECT
public:
    explicit TCAM3Form(QWidget* parent = nullptr);
};
