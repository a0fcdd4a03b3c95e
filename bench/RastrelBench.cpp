// Speed of the frame paths: conversion between RGB and the NTSC form, the
// compound-file save and load, and a warm CoCreateInstance.
#include "platform/ComPtr.h"
#include "rastrel.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
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

BENCHMARK(BM_ConvertRgbToNtsc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertNtscToRgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToStorage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromStorage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmCreateInstance)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
