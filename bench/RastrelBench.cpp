// Speed of the frame paths (conversion between RGB and the NTSC form, the
// compound-file save and load, a warm CoCreateInstance) and of the codecs
// alone, in process: loading and saving a 4000 x 3000 photograph-like
// picture in each file format through the manager, without the tool's
// start-up that the comparison scripts include.
#include "platform/ComPtr.h"
#include "rastrel.h"

#include <benchmark/benchmark.h>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

namespace {

struct Setup {
    Setup() {
        char folder[] = "/tmp/rastrel-bench-XXXXXX";
        directory = ::mkdtemp(folder);
        ::setenv("RASTREL_REGISTRY", (directory + "/registry.reg").c_str(), 1);
        CoInitialize(nullptr);
        for (const char* library : {RASTREL_LIBRARY, THUMBNAIL_LIBRARY}) {
            HMODULE module = LoadLibraryA(library);
            auto entry = reinterpret_cast<DllRegisterServerFunction>(
                GetProcAddress(module, "DllRegisterServer"));
            if (entry == nullptr || FAILED(entry())) std::abort();
        }
    }
    ~Setup() { std::filesystem::remove_all(directory); }
    std::string directory;
};
Setup& Once() {
    static Setup setup;
    return setup;
}

ComPtr<IBitmapImage> NewBitmap() {
    Once();
    ComPtr<IBitmapImage> bitmap;
    if (FAILED(CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                                bitmap.Out())))
        std::abort();
    return bitmap;
}

ComPtr<IBitmapImage> Frame(DWORD format) {
    ComPtr<IBitmapImage> bitmap = NewBitmap();
    bitmap->Create(720, 486, format);
    BitmapImage image{};
    DWORD bytes = 0;
    bitmap->GetImage(&image);
    bitmap->GetPixelBytes(&bytes);
    std::mt19937 random(1);
    for (DWORD i = 0; i < bytes; ++i)
        image.pixels[i] = static_cast<BYTE>(random());
    return bitmap;
}

void Convert(benchmark::State& state, DWORD from, DWORD to) {
    const ComPtr<IBitmapImage> frame = Frame(from);
    for (auto _ : state) {
        ComPtr<IBitmapImage> converted;
        if (FAILED(frame->Convert(to, &converted, nullptr))) std::abort();
    }
}

void BM_ConvertRgbToNtsc(benchmark::State& state) {
    Convert(state, 0x400, 0x4);
}
void BM_ConvertNtscToRgb(benchmark::State& state) {
    Convert(state, 0x4, 0x400);
}

void BM_SaveToStorage(benchmark::State& state) {
    const ComPtr<IBitmapImage> frame = Frame(0x4);
    const std::string path = Once().directory + "/frame.stg";
    for (auto _ : state)
        if (FAILED(frame->SaveToStorage(path.c_str()))) std::abort();
}

void BM_LoadFromStorage(benchmark::State& state) {
    const ComPtr<IBitmapImage> frame = Frame(0x4);
    const std::string path = Once().directory + "/load.stg";
    frame->SaveToStorage(path.c_str());
    for (auto _ : state)
        if (FAILED(frame->LoadFromStorage(path.c_str()))) std::abort();
}

void BM_WarmCreateInstance(benchmark::State& state) {
    NewBitmap();
    const ComPtr<IBitmapImage> keep = NewBitmap(); // keeps the library loaded
    for (auto _ : state)
        NewBitmap();
}

ComPtr<ITranslatorManager> Manager() {
    Once();
    ComPtr<ITranslatorManager> manager;
    if (FAILED(CoCreateInstance(CLSID_TranslatorManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITranslatorManager, manager.Out())))
        std::abort();
    return manager;
}

// RASTREL_BENCH_INPUT names a folder whose in.bmp is the picture and whose
// in.jpg, in.png, ... the loads read, so that a comparison script can time
// the codecs alone on its own files.
std::string Input(const std::string& name) {
    const char* folder = std::getenv("RASTREL_BENCH_INPUT");
    if (folder == nullptr) return {};
    const std::string path = std::string(folder) + "/" + name;
    return std::filesystem::exists(path) ? path : std::string{};
}

// Shading, a flat half and noise, as the comparison scripts' picture has.
ComPtr<IBitmapImage> Photograph() {
    if (const std::string given = Input("in.bmp"); !given.empty()) {
        ComPtr<IBitmapImage> bitmap;
        if (Manager()->Load(given.c_str(), PF_RGB24, &bitmap, nullptr, nullptr) != S_OK)
            std::abort();
        return bitmap;
    }
    constexpr LONG kWidth = 4000, kHeight = 3000;
    ComPtr<IBitmapImage> bitmap = NewBitmap();
    if (FAILED(bitmap->Create(kWidth, kHeight, PF_RGB24))) std::abort();
    BitmapImage image{};
    bitmap->GetImage(&image);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(128.0f, 24.0f);
    for (LONG y = 0; y < kHeight; ++y) {
        BYTE* row = image.pixels + static_cast<std::size_t>(y) * kWidth * 3;
        const auto shade = static_cast<BYTE>(255 * y / (kHeight - 1));
        for (LONG x = 0; x < kWidth; ++x) {
            const float green = x < kWidth / 2 ? 90.0f : std::round(noise(random));
            row[3 * x] = static_cast<BYTE>(255 * x / (kWidth - 1));
            row[3 * x + 1] = static_cast<BYTE>(std::fmin(255.0f, std::fmax(0.0f, green)));
            row[3 * x + 2] = shade;
        }
    }
    return bitmap;
}

// The translator for an extension (the manager's are capitals), with its
// compression option set when one is given.
ComPtr<ITranslator> Writer(const char* extension, WORD compression) {
    ComPtr<ITranslator> translator;
    if (Manager()->TranslatorForExtension(extension, &translator) != S_OK) std::abort();
    if (compression != 0) {
        ComPtr<ITranslatorOptions> options;
        translator->QueryInterface(IID_ITranslatorOptions, options.Out());
        if (!options || options->SetCompression(compression) != S_OK) std::abort();
    }
    return translator;
}

// The picture saved once per extension, in the bench folder.
std::string Saved(const char* extension, WORD compression) {
    std::string lower = extension;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (const std::string given = Input("in." + lower); !given.empty()) return given;
    const std::string path = Once().directory + "/photo." + extension;
    static std::map<std::string, bool> done;
    if (done[path]) return path;
    if (FAILED(Writer(extension, compression)->Save(path.c_str(), Photograph().get(), nullptr)))
        std::abort();
    done[path] = true;
    return path;
}

void Load(benchmark::State& state, const char* extension, WORD compression) {
    const std::string path = Saved(extension, compression);
    const ComPtr<ITranslatorManager> manager = Manager();
    for (auto _ : state) {
        ComPtr<IBitmapImage> bitmap;
        if (manager->Load(path.c_str(), PF_RGB24, &bitmap, nullptr, nullptr) != S_OK) std::abort();
    }
}

void Save(benchmark::State& state, const char* extension, WORD compression) {
    const ComPtr<IBitmapImage> picture = Photograph();
    const std::string path = Once().directory + "/saved." + extension;
    const ComPtr<ITranslator> translator = Writer(extension, compression);
    for (auto _ : state)
        if (FAILED(translator->Save(path.c_str(), picture.get(), nullptr))) std::abort();
}

BENCHMARK_CAPTURE(Load, jpeg_q75, "JPG", 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, jpeg_q75, "JPG", 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, png, "PNG", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, png, "PNG", 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Load, tiff, "TIF", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, tiff, "TIF", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, pcx, "PCX", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, pcx, "PCX", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, bmp, "BMP", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, tga, "TGA", 0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertRgbToNtsc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertNtscToRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToStorage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromStorage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmCreateInstance)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
