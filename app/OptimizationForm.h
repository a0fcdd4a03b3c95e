#pragma once
// The window "Kalibrace kamer optimalizačně": three frames of the etalon in
// its basic position, triples of etalon frames from a folder, and the
// steepest descent over the three focal lengths, whose results "Nastavit"
// hands to the main window. The descent runs on a thread of its own; each
// pass's texts come back to the window in order.
#include "optimisation/EtalonOptimisation.h"

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <memory>
#include <thread>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class TFolderChooser;
class TImage;

class TOptimizationForm : public QWidget {
    Q_OBJECT
public:
    explicit TOptimizationForm(QWidget* parent = nullptr);
    ~TOptimizationForm() override;

    // The window "Nastavit" fills (its edit boxes are found by name) and brings forward.
    void SetMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }

    void ChooseFolder(const QString& folder);
    const merkanix::EtalonTripleTable& Triples() const { return triples_; }
    const std::array<bool, 3>& EtalonFrameLoaded() const { return etalonFrameLoaded_; }
    bool Running() const { return worker_.joinable(); }
    // Ends a run at the next pass and waits for it; the passes done stay shown.
    void StopRun();
    // Runs end after this many passes at most (0: no bound), so that a
    // scripted run shows the same whatever the machine's speed.
    void SetPassLimit(std::int64_t passes) { passLimit_ = passes; }

signals:
    void RunFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Button7Click();
    void Button1Click();
    void Button2Click();
    void SortOutOptimize();
    void GradientDescent();
    void Button3Click();

private:
    QWidget* BuildEtalonPage();
    QWidget* BuildTriplePage();
    QGroupBox* BuildFrameChoice();
    QGroupBox* BuildMinimisation();
    QGroupBox* BuildCameraSystem();

    template <typename Sender, typename Signal>
    void Handle(Sender* sender, Signal signal, void (TOptimizationForm::*handler)());

    void OpenEtalon(int camera); // Button7Click, Button1Click, Button2Click
    void ShowImOptimize(std::size_t i);
    void ShowPass(const merkanix::PassReport& pass);
    void FinishRun(const merkanix::DescentOutcome& outcome);
    void ShowElapsed(); // on the progress bar, against the time limit

    const char separator_;                  // the user's decimal separator, read once
    const merkanix::DescentTexts defaults_; // the fields' start texts in that format
    QWidget* mainWindow_ = nullptr;

    QTabWidget* PageControl1;

    // "Etalon v základní poloze".
    QLineEdit* LabeledEdit1;
    TImage *EtalonImage1, *EtalonImage2, *EtalonImage3;
    QPushButton *Button7, *Button1, *Button2;

    // "Pozice kamer + ohniskové vzdálenosti".
    TImage *Image1, *Image2, *Image3;
    TFolderChooser* folders_; // DriveComboBox1, DirectoryListBox1, FileListBox1
    QListWidget* FileListBox1;
    QLineEdit* LabeledEdit2;
    QCheckBox* CheckBox1;
    QListWidget* ListBox1;

    // "MINIMALIZACE".
    QRadioButton *RadioButton1, *RadioButton2, *RadioButton3, *RadioButton4;
    QLineEdit *stepEdit, *KappaEdit, *epsilonEdit, *SufficientGradientEdit, *maxiterEdit;
    QLabel *ObjectiveFunctionStaticText, *f1currentStaticText, *f2currentStaticText,
        *f3currentStaticText;
    QLabel *ObjectiveFunctionOptimalStaticText, *f1OptimalStaticText, *f2OptimalStaticText,
        *f3OptimalStaticText;
    QLabel *Grad1StaticText, *Grad2StaticText, *Grad3StaticText, *GradStaticText;
    QPushButton* Button4;
    QProgressBar* Gauge;
    QLabel* SubPixelLabel; // "Subpixelové hrany" while a run measures edges between rows

    // "Parametry kamerového systému".
    QLineEdit *f1Edit, *xc1Edit, *yc1Edit, *x1Edit, *y1Edit;
    QLineEdit *f2Edit, *xc2Edit, *yc2Edit, *x2edit, *y2Edit;
    QLineEdit *f3Edit, *xc3Edit, *yc3Edit, *x3Edit, *y3Edit;
    QPushButton* Button3;

    std::array<std::array<QLineEdit*, 5>, 3> cameraEdits_{};
    std::array<TImage*, 3> etalonImages_{};
    std::array<TImage*, 3> tripleImages_{};
    std::array<bool, 3> etalonFrameLoaded_{};
    merkanix::EtalonTripleTable triples_; // OptimizationTriples

    // The run.
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<int> variant_{2}; // the objective chosen now, read by each pass
    QTimer* clock_;
    QElapsedTimer elapsed_;
    double timeLimit_ = 0.0; // seconds, for the progress bar
    std::int64_t passLimit_ = 0;
};
