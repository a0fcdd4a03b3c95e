// rastrel: loads, converts and stores raster images through the rastrel
// components, reached by class identifier like any other client.
//
//   rastrel formats
//   rastrel info FILE [--format HEX]
//   rastrel convert IN OUT [--format HEX] [--quality Q] [--rle] [--depth N]
//   rastrel store IN OUT [--format HEX]
//   rastrel unstore IN OUT [--rle] [--depth N]
//
// Exit status: 0 done, 1 the operation failed, 2 bad command line, 3 the
// classes are not registered, 130 cancelled (Ctrl-C; 143 SIGTERM, 129 SIGHUP).
#include "rastrel.h"
#include "Pcx.h"
#include "Tiff.h"
#include "platform/ComPtr.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFailed = 1, kUsage = 2, kNotRegistered = 3, kCancelled = 130;

volatile std::sig_atomic_t g_interrupted = 0;

// Ctrl-C, SIGTERM and SIGHUP cancel at the next row, so the save removes
// its temporary instead of dying with it half written.
void OnInterrupt(int signal) {
    g_interrupted = signal;
}

const char* HresultName(HRESULT hr) {
    switch (hr) {
    case S_FALSE:
        return "S_FALSE";
    case E_FAIL:
        return "E_FAIL";
    case E_ABORT:
        return "E_ABORT";
    case E_OUTOFMEMORY:
        return "E_OUTOFMEMORY";
    case E_INVALIDARG:
        return "E_INVALIDARG";
    case E_NOTIMPL:
        return "E_NOTIMPL";
    case E_NOINTERFACE:
        return "E_NOINTERFACE";
    case E_UNEXPECTED:
        return "E_UNEXPECTED";
    case REGDB_E_CLASSNOTREG:
        return "REGDB_E_CLASSNOTREG";
    default:
        return nullptr;
    }
}

// `cause`: the system's words for what went wrong, when known.
int Report(const std::string& what, HRESULT hr, const char* cause = nullptr) {
    if (hr == E_ABORT) {
        std::fprintf(stderr, "rastrel: %s: cancelled\n", what.c_str());
        return g_interrupted != 0 ? 128 + g_interrupted : kCancelled;
    }
    const char* name = HresultName(hr);
    std::fprintf(stderr, "rastrel: %s: %s%s0x%08X%s%s%s\n", what.c_str(), cause ? cause : "",
                 cause ? " (" : "", static_cast<unsigned>(hr), name ? (cause ? ", " : " (") : "",
                 name ? name : "", name || cause ? ")" : "");
    return kFailed;
}

// Why a file cannot be read, in the system's words; null when it can.
const char* CannotRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return nullptr;
}

// What the platform's last error says after a failed write; null when it
// names nothing the user can act on.
const char* WriteCause() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return std::strerror(ENOENT);
    case ERROR_ACCESS_DENIED:
        return std::strerror(EACCES);
    case ERROR_DISK_FULL:
        return std::strerror(ENOSPC);
    default:
        return nullptr;
    }
}

// The progress bar on a terminal; Ctrl-C cancels at the next row.
class ProgressBar final : public IProgressSink {
public:
    ProgressBar() : visible_(::isatty(2) != 0) {}
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Begin() override {
        phase_ = 0;
        lastStep_ = -1;
        return S_OK;
    }
    HRESULT End() override {
        if (visible_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
        return S_OK;
    }
    HRESULT SetPhaseCount(LONG) override { return S_OK; }
    HRESULT Step(ProgressRecord* progress) override {
        if (g_interrupted) return S_FALSE;
        if (!visible_ || progress == nullptr) return S_OK;
        // Each phase counts its rows from 0 again.
        if (progress->step < lastStep_) ++phase_;
        lastStep_ = progress->step;
        const double phases = std::max<LONG>(progress->phases, 1);
        const double within =
            progress->total > 0 ? static_cast<double>(progress->step) / progress->total : 0;
        const double done = std::min(1.0, (std::min<double>(phase_, phases - 1) + within) / phases);
        const int percent = static_cast<int>(done * 100);
        if (percent != shown_ || !drawn_) {
            const int width = 40, filled = static_cast<int>(done * width);
            std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                         std::string(width - filled, '.').c_str(), percent);
            std::fflush(stderr);
            shown_ = percent;
            drawn_ = true;
        }
        return S_OK;
    }

private:
    bool visible_;
    bool drawn_ = false;
    int shown_ = -1;
    LONG phase_ = 0, lastStep_ = -1;
};

// Where the library lies beside this program (bin/ and lib/), for the hint.
std::string LibraryHint(const char* name) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto library = self.parent_path().parent_path() / "lib" / name;
        if (std::filesystem::exists(library, error)) return library.string();
    }
    return std::string("PATH/TO/") + name;
}

template <class T> HRESULT Make(const CLSID& clsid, const IID& iid, T** object) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(object));
}

int NotRegistered(HRESULT hr, const char* what, const char* library) {
    if (const std::string problem = RegistryFileProblem(); !problem.empty())
        std::fprintf(stderr, "rastrel: the registry file cannot be read: %s\n", problem.c_str());
    std::fprintf(stderr,
                 "rastrel: the %s classes are not registered (0x%08X); register them "
                 "with:\n  regsvr %s\n",
                 what, static_cast<unsigned>(hr), LibraryHint(library).c_str());
    return kNotRegistered;
}

struct Options {
    std::vector<std::string> files;
    DWORD format = PF_RGB24;
    long quality = -1;
    bool runLength = false;
    long depth = 0;
};

bool ParseNumber(const char* text, int base, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, base);
    if (errno != 0 || end == text || *end != 0 || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

// The usage on stderr with a problem (exit 2), on stdout when asked for (exit 0).
int Usage(const char* problem = nullptr, bool asked = false) {
    if (problem) std::fprintf(stderr, "rastrel: %s\n", problem);
    std::fputs("usage: rastrel formats\n"
               "       rastrel info FILE [--format HEX]\n"
               "       rastrel convert IN OUT [--format HEX] [--quality Q] [--rle] [--depth N]\n"
               "       rastrel store IN OUT [--format HEX]\n"
               "       rastrel unstore IN OUT [--rle] [--depth N]\n"
               "       rastrel help\n",
               asked ? stdout : stderr);
    return asked ? 0 : kUsage;
}

// The translator for OUT's extension, any case; .jpeg and .tiff too.
std::string ExtensionOf(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return {};
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (extension == "JPEG") return "JPG";
    if (extension == "TIFF") return "TIF";
    return extension;
}

// The runtime started once; the manager goes before it stops.
struct Session {
    ComPtr<ITranslatorManager> manager;
    ~Session() {
        manager.Reset();
        CoUninitialize();
    }
};

int SaveByExtension(ITranslatorManager* manager, IBitmapImage* bitmap, const std::string& out,
                    const Options& options, ProgressBar& bar) {
    const std::string extension = ExtensionOf(out);
    ComPtr<ITranslator> translator;
    const HRESULT found = extension.empty()
                              ? S_FALSE
                              : manager->TranslatorForExtension(extension.c_str(), &translator);
    if (found != S_OK) {
        if (FAILED(found)) return Report("no translator for " + out, found);
        std::fprintf(stderr, "rastrel: no translator writes %s files\n",
                     extension.empty() ? "extensionless" : ("." + extension).c_str());
        return kFailed;
    }
    ComPtr<ITranslatorOptions> settings;
    int status = 0;
    if (SUCCEEDED(translator->QueryInterface(IID_ITranslatorOptions, settings.Out()))) {
        if (options.runLength && settings->SetCompression(1) != S_OK) {
            std::fprintf(stderr, "rastrel: --rle does not apply to .%s files\n", extension.c_str());
            status = kUsage;
        }
        if (status == 0 && options.quality >= 0 &&
            settings->SetCompression(static_cast<WORD>(options.quality)) != S_OK) {
            std::fprintf(stderr, "rastrel: --quality %ld does not apply to .%s files\n",
                         options.quality, extension.c_str());
            status = kUsage;
        }
        if (status == 0 && options.depth > 0 &&
            settings->SetSaveDepth(static_cast<LONG>(options.depth)) != S_OK) {
            std::fprintf(stderr, "rastrel: --depth %ld is not accepted for .%s files\n",
                         options.depth, extension.c_str());
            status = kUsage;
        }
        settings.Reset();
    }
    if (status == 0) {
        SetLastError(0);
        const HRESULT hr = translator->Save(out.c_str(), bitmap, &bar);
        if (FAILED(hr)) status = Report("cannot write " + out, hr, WriteCause());
    }
    return status;
}

// The command and its options: 0, or the exit status of a bad command line.
int ParseCommandLine(int argc, char** argv, std::string& command, Options& options) {
    command = argv[1];
    bool formatGiven = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        // The option's value: the next argument.
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long number = 0;
        if (arg == "--format") {
            const char* text = value();
            if (!text || !ParseNumber(text, 16, 1, 0x10000, number) || (number & (number - 1)) != 0)
                return Usage("--format takes one of the pixel-format codes 1 ... 10000 (hex)");
            options.format = static_cast<DWORD>(number);
            formatGiven = true;
        } else if (arg == "--quality") {
            const char* text = value();
            if (!text || !ParseNumber(text, 10, 0, 100, number))
                return Usage("--quality takes 0 ... 100");
            options.quality = number;
        } else if (arg == "--depth") {
            const char* text = value();
            if (!text || !ParseNumber(text, 10, 1, 32, number))
                return Usage("--depth takes a bit count");
            options.depth = number;
        } else if (arg == "--rle") {
            options.runLength = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return Usage(("unknown option " + arg).c_str());
        } else {
            options.files.push_back(arg);
        }
    }
    const std::size_t wanted = command == "formats" ? 0 : command == "info" ? 1 : 2;
    if (command != "formats" && command != "info" && command != "convert" && command != "store" &&
        command != "unstore")
        return Usage(("unknown command " + command).c_str());
    if (options.files.size() != wanted) return Usage();
    const bool writeOptions = options.quality >= 0 || options.runLength || options.depth > 0;
    if ((writeOptions && command != "convert" && command != "unstore") ||
        (formatGiven && command == "unstore") || (formatGiven && command == "formats"))
        return Usage(("an option that " + command + " does not take").c_str());
    return 0;
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int ListFormats(ITranslatorManager* manager) {
    ComPtr<IFormatEnumerator> formats;
    if (const HRESULT hr = manager->EnumerateLoadFormats(&formats); FAILED(hr))
        return Report("cannot list the formats", hr);
    char extension[16]{}, description[128]{};
    while (formats->Next(sizeof extension - 1, sizeof description - 1, extension, description) ==
           S_OK)
        std::printf("%-4s %s\n", extension, description);
    return 0;
}

int Unstore(ITranslatorManager* manager, const Options& options, ProgressBar& bar) {
    ComPtr<IBitmapImage> bitmap;
    if (const HRESULT hr = Make(CLSID_Bitmap, IID_IBitmapImage, &bitmap); FAILED(hr))
        return Report("cannot create a bitmap", hr);
    if (const HRESULT hr = bitmap->LoadFromStorage(options.files[0].c_str()); FAILED(hr))
        return Report("cannot read " + options.files[0], hr, CannotRead(options.files[0]));
    return SaveByExtension(manager, bitmap.get(), options.files[1], options, bar);
}

// The fields of the header record a PCX or TIFF translator keeps.
void PrintHeaderRecord(const std::string& extension, const std::string& path) {
    platform::ByteSource source;
    if (!source.OpenFile(path.c_str())) return;
    if (rastrel::PcxHeader pcx{}; extension == "PCX" && rastrel::ProbePcx(source, pcx) == 0)
        std::printf("version %d\nbits per pixel %d\nplanes %d\nbytes per line %d\n"
                    "palette information %d\noutput depth %d\n",
                    pcx.version, pcx.bitsPerPixel, pcx.planes, pcx.bytesPerLine, pcx.paletteInfo,
                    pcx.outputDepth);
    if (rastrel::TiffHeader tiff{}; extension == "TIF" && rastrel::ProbeTiff(source, tiff) == 0)
        std::printf("byte order %s\nbits per sample %d\ncompression %d\nsamples per pixel %d\n"
                    "photometric %d\nplanar configuration %d\npredictor %d\nfill order %d\n"
                    "strips %u\noutput depth %d\n",
                    tiff.byteOrder == 1 ? "MM" : "II", tiff.bitsPerSample, tiff.compression,
                    tiff.samplesPerPixel, tiff.photometric, tiff.planarConfiguration,
                    tiff.predictor, tiff.fillOrder, static_cast<unsigned>(tiff.stripOffsets.count),
                    tiff.outputDepth);
}

void PrintInfo(ITranslator* translator, IBitmapImage* bitmap, const std::string& path) {
    char extension[16]{};
    translator->GetExtension(sizeof extension - 1, extension);
    BitmapImage image{};
    bitmap->GetImage(&image);
    std::printf("translator %s\nwidth %d\nheight %d\nformat 0x%X\n", extension,
                static_cast<int>(image.header->biWidth), static_cast<int>(image.header->biHeight),
                static_cast<unsigned>(image.format));
    PrintHeaderRecord(extension, path);
}

int Store(IBitmapImage* bitmap, const std::string& out) {
    SetLastError(0);
    const HRESULT hr = bitmap->SaveToStorage(out.c_str());
    if (hr == REGDB_E_CLASSNOTREG)
        return NotRegistered(hr, "thumbnail writer", "librastrel-thumbnail.so");
    if (hr == E_INVALIDARG) {
        std::fprintf(stderr,
                     "rastrel: cannot store %s: the compound-file form holds one "
                     "720 x 486 frame\n",
                     out.c_str());
        return kFailed;
    }
    return FAILED(hr) ? Report("cannot store " + out, hr, WriteCause()) : 0;
}

// info, convert and store: the input loaded by probing, then used.
int LoadAndUse(ITranslatorManager* manager, const std::string& command, const Options& options,
               ProgressBar& bar) {
    ComPtr<IBitmapImage> bitmap;
    ComPtr<ITranslator> translator;
    const std::string& in = options.files[0];
    const HRESULT loaded = manager->Load(in.c_str(), options.format, &bitmap, &bar, &translator);
    if (loaded == S_FALSE) {
        std::fprintf(stderr, "rastrel: %s: no translator reads this file\n", in.c_str());
        return kFailed;
    }
    if (FAILED(loaded)) return Report("cannot load " + in, loaded, CannotRead(in));
    if (command == "info") {
        PrintInfo(translator.get(), bitmap.get(), in);
        return 0;
    }
    if (command == "convert")
        return SaveByExtension(manager, bitmap.get(), options.files[1], options, bar);
    return Store(bitmap.get(), options.files[1]);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string first = argv[1];
    if (first == "help" || first == "--help" || first == "-h") return Usage(nullptr, true);
    std::string command;
    Options options;
    if (const int status = ParseCommandLine(argc, argv, command, options); status != 0)
        return status;
    CatchInterrupt();
    if (FAILED(CoInitialize(nullptr))) {
        std::fprintf(stderr, "rastrel: the component runtime does not start\n");
        return kFailed;
    }
    Session session;
    const HRESULT made = Make(CLSID_TranslatorManager, IID_ITranslatorManager, &session.manager);
    if (made == REGDB_E_CLASSNOTREG || made == CO_E_DLLNOTFOUND)
        return NotRegistered(made, "rastrel", "librastrel.so");
    if (FAILED(made)) return Report("cannot create the translator manager", made);
    ProgressBar bar;
    if (command == "formats") return ListFormats(session.manager.get());
    if (command == "unstore") return Unstore(session.manager.get(), options, bar);
    return LoadAndUse(session.manager.get(), command, options, bar);
}
