// A click on a triple in the main window, to the last result text, and each
// handler of a calibration window and of the optimisation window (but MIN,
// whose run has a time limit of its own) from its click to its last text,
// on the offscreen platform.
#include "app/ApplicationWindows.h"
#include "app/UpDown.h"
#include "app/UserDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

std::string g_folder;
std::string g_calibration;  // millimetre paper and etalon frames of camera 1
std::string g_optimisation; // basic-position etalon frames and ten etalon triples
const char* const kBasicFrame = "Camera1_20080415_093012_000.tif";

// Every open dialog answers the file the benchmark names.
class BenchDialogs final : public UserDialogs {
public:
    QString OpenFileName(QWidget*, const QString&) override { return answer; }
    QString SaveFileName(QWidget*, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    QString answer;
} g_dialogs;

QString CalibrationFile(const char* name) {
    return QString::fromStdString(g_calibration + "/" + name);
}
const char* const kNear = "Camera1_20080415_093012_000_35,00.tif";
const char* const kFar = "Camera1_20080415_093013_000_30,00.tif";
const char* const kEtalon = "Camera1_20080415_093014_000.tif";

// A calibration window taken through its pages up to the focal length, so
// that every handler does its whole work.
struct CalibrationBench {
    ApplicationWindows windows;
    TCalibrationForm& form = windows.cam1Form;

    template <typename T = QAbstractButton> T* control(const char* name) {
        return form.findChild<T*>(name);
    }
    void open(const char* button, const char* file) {
        g_dialogs.answer = CalibrationFile(file);
        control(button)->click();
    }
    CalibrationBench() {
        open("Button1", kNear);
        open("Button2", kFar);
        control("Button3")->click();
        control<QSlider>("TrackBar1")->setValue(100);
        control<QSlider>("TrackBar2")->setValue(175);
        control("Button4")->click();
        control("IterativeRadioButton")->click();
        control("Button6")->click();
        g_dialogs.answer = CalibrationFile(kEtalon);
    }
};

// One handler per click; `i` counts the clicks, so values can alternate.
using CalibrationAction = std::function<void(CalibrationBench&, int i)>;

void SetSpin(CalibrationBench& b, const char* name, int value) {
    b.control<QSpinBox>(name)->setValue(value);
}
void SetBar(CalibrationBench& b, const char* name, int value) {
    b.control<QSlider>(name)->setValue(value);
}

const std::pair<const char*, CalibrationAction> kCalibrationHandlers[] = {
    {"Button1Click", [](CalibrationBench& b, int) { b.open("Button1", kNear); }},
    {"Button2Click", [](CalibrationBench& b, int) { b.open("Button2", kFar); }},
    {"UpDown1Click",
     [](CalibrationBench& b, int i) {
         auto* arrows = b.control<TUpDown>("UpDown1");
         i % 2 ? arrows->StepDown() : arrows->StepUp();
     }},
    {"UpDown3Click",
     [](CalibrationBench& b, int i) {
         auto* arrows = b.control<TUpDown>("UpDown3");
         i % 2 ? arrows->StepUp() : arrows->StepDown();
     }},
    {"FindCenter", [](CalibrationBench& b, int) { b.control("Button3")->click(); }},
    {"SpinEdit1Change",
     [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit1", 79 + i % 2 * 2); }},
    {"SpinEdit2Change", [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit2", 2 + i % 2); }},
    {"TrackBar1Change", [](CalibrationBench& b, int i) { SetBar(b, "TrackBar1", 100 + i % 2); }},
    {"TrackBar2Change", [](CalibrationBench& b, int i) { SetBar(b, "TrackBar2", 175 + i % 2); }},
    {"SpinEdit3Change", [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit3", 100 + i % 2); }},
    {"SpinEdit4Change", [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit4", 175 + i % 2); }},
    {"Button4Click", [](CalibrationBench& b, int) { b.control("Button4")->click(); }},
    {"Button5Click", [](CalibrationBench& b, int) { b.control("Button5")->click(); }},
    {"IterativeRadioButtonClick",
     [](CalibrationBench& b, int) { b.control("IterativeRadioButton")->click(); }},
    {"SpinEdit5Change", [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit5", 128 + i % 2); }},
    {"ManualRadioButtonClick",
     [](CalibrationBench& b, int) { b.control("ManualRadioButton")->click(); }},
    {"SpinEdit6Change", [](CalibrationBench& b, int i) { SetSpin(b, "SpinEdit6", 128 + i % 2); }},
    {"FindFocalLength", [](CalibrationBench& b, int) { b.control("Button6")->click(); }},
    {"OpenEtalon", [](CalibrationBench& b, int) { b.control("Button7")->click(); }},
    {"RadioButton1Click", [](CalibrationBench& b, int) { b.control("RadioButton1")->click(); }},
    {"RadioButton2Click", [](CalibrationBench& b, int) { b.control("RadioButton2")->click(); }},
    {"Button8Click", [](CalibrationBench& b, int) { b.control("Button8")->click(); }},
};

void BM_CalibrationHandler(benchmark::State& state, const CalibrationAction& action) {
    CalibrationBench bench;
    int i = 0;
    for (auto _ : state)
        action(bench, i++);
}

// The optimisation window with its etalon frames and triples, as before MIN.
struct OptimisationBench {
    ApplicationWindows windows;
    TOptimizationForm& form = windows.optimisationForm;

    QAbstractButton* control(const char* name) { return form.findChild<QAbstractButton*>(name); }
    OptimisationBench() {
        g_dialogs.answer = QString::fromStdString(g_optimisation + "/basic/" + kBasicFrame);
        form.ChooseFolder(QString::fromStdString(g_optimisation + "/triples"));
    }
};

using OptimisationAction = std::function<void(OptimisationBench&)>;

const std::pair<const char*, OptimisationAction> kOptimisationHandlers[] = {
    {"Button7Click", [](OptimisationBench& b) { b.control("Button7")->click(); }},
    {"Button1Click", [](OptimisationBench& b) { b.control("Button1")->click(); }},
    {"Button2Click", [](OptimisationBench& b) { b.control("Button2")->click(); }},
    {"SortOutOptimize", [](OptimisationBench& b) { b.control("CheckBox1")->click(); }},
    {"Button3Click", [](OptimisationBench& b) { b.control("Button3")->click(); }},
    {"RadioButton7Click",
     [](OptimisationBench& b) {
         b.windows.mainForm.findChild<QAbstractButton*>("RadioButton7")->click();
     }},
};

void BM_OptimisationHandler(benchmark::State& state, const OptimisationAction& action) {
    OptimisationBench bench;
    for (auto _ : state)
        action(bench);
}

void BM_WriteOut(benchmark::State& state) {
    ApplicationWindows windows;
    TMainForm& form = windows.mainForm;
    form.ChooseFolder(QString::fromStdString(g_folder));
    form.findChild<QCheckBox*>("CheckBox1")->click();
    QListWidget* list = form.findChild<QListWidget*>("ListBox1");
    int k = 0;
    for (auto _ : state) {
        list->setCurrentRow(k);
        emit list->itemClicked(list->item(k)); // evaluates, draws and writes every text
        k = (k + 1) % list->count();
    }
}
BENCHMARK(BM_WriteOut)->Unit(benchmark::kMillisecond)->UseRealTime();

void RegisterWindowHandlers() {
    for (const auto& [name, action] : kCalibrationHandlers)
        benchmark::RegisterBenchmark((std::string("BM_Calibration/") + name).c_str(),
                                     BM_CalibrationHandler, action)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    for (const auto& [name, action] : kOptimisationHandlers)
        benchmark::RegisterBenchmark((std::string("BM_Optimisation/") + name).c_str(),
                                     BM_OptimisationHandler, action)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "merkanix-bench-XXXXXX").string();
    g_folder = ::mkdtemp(pattern.data());
    const std::string simulate = std::string(MERKANIX_BIN_DIR) + "/merkanix-simulate '" + g_folder +
                                 "' --triples 4 --seed 9 --noise 300 >/dev/null";
    if (std::system(simulate.c_str()) != 0) return 1;
    g_calibration = g_folder + "/calibration";
    const std::string calibration = std::string(MERKANIX_BIN_DIR) + "/merkanix-simulate '" +
                                    g_calibration + "' --calibration --seed 1 >/dev/null";
    if (std::system(calibration.c_str()) != 0) return 1;
    g_optimisation = g_folder + "/optimisation";
    const std::string optimisation = std::string(MERKANIX_BIN_DIR) + "/merkanix-simulate '" +
                                     g_optimisation + "' --optimisation --seed 1 >/dev/null";
    if (std::system(optimisation.c_str()) != 0) return 1;
    UserDialogs::Install(&g_dialogs);
    RegisterWindowHandlers();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(g_folder);
    return 0;
}
