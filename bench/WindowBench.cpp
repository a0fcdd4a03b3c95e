// A click on a triple in the main window, to the last result text, on the
// offscreen platform.
#include "app/ApplicationWindows.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string g_folder;

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(g_folder);
    return 0;
}
