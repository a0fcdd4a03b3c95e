// The Windows Bitmap translator: files read through the bitmap reader and
// written through the file stream, rows between the file and bitmap
// objects through the row conversion chain.
#include "Bmp.h"
#include "Palette.h"
#include "PixelFormats.h"
#include "Translator.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace rastrel {
namespace {

constexpr OptionValues kBmpOptions{61, S_OK, 13, S_FALSE, S_FALSE, 0};
constexpr DWORD kFileHeaderBytes = 14;
constexpr DWORD kInfoHeaderBytes = 40;

// How a bitmap goes into a file: the file's bit count, whether the file
// keeps the bitmap's own palette indices, and the format of the rows written.
struct SavePlan {
    int depth = 0;
    bool ownIndices = false;
    DWORD rowsFormat = PF_RGB24;
    DWORD paletteEntries = 0;
};

// The bitmap's own bit count where a bitmap file can hold it.
int DefaultDepth(DWORD format) {
    switch (format) {
    case PF_RGB32A:
        return 32;
    case PF_RGB16:
        return 16;
    case PF_PALETTE8:
    case PF_GREY8:
        return 8;
    case PF_PALETTE4:
        return 4;
    default:
        return FindFormat(format)->alpha ? 32 : 24;
    }
}

// False for a bit count no bitmap file has.
bool PlanSave(DWORD format, int saveDepth, SavePlan& plan) {
    plan.depth = saveDepth != 0 ? saveDepth : DefaultDepth(format);
    const int depth = plan.depth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return false;
    plan.ownIndices = (depth == 8 && (format == PF_PALETTE8 || format == PF_GREY8)) ||
                      (depth == 4 && format == PF_PALETTE4);
    plan.rowsFormat = depth == 32 ? PF_RGB32A : depth == 16 ? PF_RGB16 : PF_RGB24;
    if (plan.ownIndices) plan.rowsFormat = format;
    plan.paletteEntries = depth < 16 ? 1u << depth : 0;
    return true;
}

// The file's palette; for indices made from 24-bit rows, the nearest-colour
// search over it.
void MakePalette(const BitmapImage& rows, const SavePlan& plan, std::vector<RGBQUAD>& palette,
                 std::unique_ptr<NearestColour>& nearest) {
    palette.assign(plan.paletteEntries, RGBQUAD{0, 0, 0, 0});
    if (plan.ownIndices && rows.format == PF_GREY8) {
        for (DWORD i = 0; i < 256; ++i)
            palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    } else if (plan.ownIndices) {
        std::memcpy(palette.data(), PaletteOf(rows.header), plan.paletteEntries * 4);
    } else if (plan.paletteEntries > 0) {
        // A palette of the image's own colours, as many as the depth holds.
        const LONG width = rows.header->biWidth, height = rows.header->biHeight;
        const auto rowBytes = static_cast<std::size_t>(
            RowBytes(*FindFormat(rows.format), static_cast<std::uint64_t>(width)));
        ColourCollector collector(static_cast<int>(plan.paletteEntries));
        for (LONG row = 0; row < height; ++row) {
            const BYTE* in = rows.pixels + row * rowBytes;
            for (LONG x = 0; x < width; ++x)
                collector.Add(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
        }
        const std::vector<RGBQUAD> colours = collector.Palette();
        std::copy_n(colours.begin(), std::min<std::size_t>(colours.size(), plan.paletteEntries),
                    palette.begin());
        nearest = std::make_unique<NearestColour>(
            palette.data(), static_cast<int>(std::max<std::size_t>(colours.size(), 1)));
    }
}

// The file header and the information header.
void MakeHeaders(const BitmapImage& rows, const SavePlan& plan,
                 BYTE (&head)[kFileHeaderBytes + kInfoHeaderBytes]) {
    const DWORD fileRowBytes = StoredRowBytes(rows.header->biWidth, plan.depth);
    const DWORD offset = kFileHeaderBytes + kInfoHeaderBytes + plan.paletteEntries * 4;
    std::memset(head, 0, sizeof head);
    head[0] = 'B';
    head[1] = 'M';
    platform::StoreU32Le(head + 2,
                         offset + fileRowBytes * static_cast<DWORD>(rows.header->biHeight));
    platform::StoreU32Le(head + 10, offset);
    BITMAPINFOHEADER info = *rows.header;
    info.biSize = kInfoHeaderBytes;
    info.biPlanes = 1;
    info.biBitCount = static_cast<WORD>(plan.depth);
    info.biCompression = 0;
    info.biSizeImage = 0;
    if (!plan.ownIndices || rows.format == PF_GREY8) info.biClrUsed = info.biClrImportant = 0;
    std::memcpy(head + kFileHeaderBytes, &info, sizeof info);
}

// One row as the file stores it: the nearest palette indices packed to the
// depth, or the row's own bytes.
void PackRow(const BYTE* in, LONG width, int depth, NearestColour* nearest, std::vector<BYTE>& out,
             std::size_t rowBytes) {
    if (nearest == nullptr) {
        std::memcpy(out.data(), in, std::min<std::size_t>(out.size(), rowBytes));
        return;
    }
    std::fill(out.begin(), out.end(), 0);
    for (LONG x = 0; x < width; ++x) {
        const BYTE index = nearest->Find(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
        if (depth == 8)
            out[x] = index;
        else if (depth == 4)
            out[x / 2] |= static_cast<BYTE>(x % 2 == 0 ? index << 4 : index);
        else
            out[x / 8] |= static_cast<BYTE>((index & 1) << (7 - x % 8));
    }
}

class BmpTranslator final : public TranslatorBase {
public:
    explicit BmpTranslator(IUnknown* outer) : TranslatorBase(outer, "BMP", kBmpOptions) {}

    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetSaveDepth(LONG depth) override {
        if (depth == 0) return S_FALSE;
        saveDepth_ = depth;
        return S_OK;
    }
    HRESULT SetCompression(WORD) override { return S_OK; }

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        return ProbeBmp(source);
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        return LoadFile(fileName, bitmap, given, [&](auto& source, auto* sink, auto& made) {
            return ReadBmp(source, format, sink, made);
        });
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override;

private:
    HRESULT WriteFile(const char* fileName, const BitmapImage& rows, const SavePlan& plan,
                      IProgressSink* sink, LONG phases);
};

HRESULT BmpTranslator::Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) {
    if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
    if (!stream_) return E_UNEXPECTED;
    IProgressSink* sink = SinkFor(given);
    SinkSession session(sink);
    BitmapImage rows{};
    if (FAILED(bitmap->GetImage(&rows)) || FindFormat(rows.format) == nullptr) return E_FAIL;
    SavePlan plan;
    if (!PlanSave(rows.format, saveDepth_, plan)) return E_INVALIDARG;
    const LONG phases = plan.rowsFormat == rows.format ? 1 : 2;
    AnnouncePhases(sink, phases);
    ComPtr<IBitmapImage> converted;
    if (plan.rowsFormat != rows.format) {
        if (const HRESULT hr = bitmap->Convert(plan.rowsFormat, &converted, sink); FAILED(hr))
            return hr;
        converted->GetImage(&rows);
    }
    return WriteFile(fileName, rows, plan, sink, phases);
}

HRESULT BmpTranslator::WriteFile(const char* fileName, const BitmapImage& rows,
                                 const SavePlan& plan, IProgressSink* sink, LONG phases) {
    std::vector<RGBQUAD> palette;
    std::unique_ptr<NearestColour> nearest;
    MakePalette(rows, plan, palette, nearest);
    BYTE head[kFileHeaderBytes + kInfoHeaderBytes];
    MakeHeaders(rows, plan, head);

    if (const HRESULT hr = stream_->Open(fileName, GENERIC_WRITE); FAILED(hr)) return hr;
    if (stream_->IsOpen() != S_OK) return E_FAIL;
    // Closing before Commit() removes the temporary: the name keeps what it had.
    auto fail = [&](HRESULT hr) {
        stream_->Close();
        return hr;
    };
    if (FAILED(stream_->Write(head, sizeof head, nullptr))) return fail(E_FAIL);
    if (plan.paletteEntries > 0 &&
        FAILED(stream_->Write(palette.data(), plan.paletteEntries * 4, nullptr)))
        return fail(E_FAIL);
    const LONG width = rows.header->biWidth, height = rows.header->biHeight;
    const auto rowBytes = static_cast<std::size_t>(
        RowBytes(*FindFormat(rows.format), static_cast<std::uint64_t>(width)));
    const DWORD fileRowBytes = StoredRowBytes(width, plan.depth);
    ProgressRecord progress{0, height, 0, phases};
    // Rows the file stores as the bitmap holds them go out straight from it,
    // a megabyte at a time; the others one packed row at a time.
    const bool asHeld = nearest == nullptr && rowBytes == fileRowBytes;
    const std::size_t rowsPerWrite = asHeld ? std::max<std::size_t>(1, (1u << 20) / rowBytes) : 1;
    std::vector<BYTE> out(asHeld ? 0 : fileRowBytes, 0);
    LONG first = 0;
    for (LONG row = 0; row < height; ++row) {
        if (sink) {
            const HRESULT answer = sink->Step(&progress);
            ++progress.step;
            if (answer == S_FALSE) return fail(E_ABORT);
        }
        const BYTE* in = rows.pixels + row * rowBytes;
        if (!asHeld) {
            PackRow(in, width, plan.depth, nearest.get(), out, rowBytes);
            if (FAILED(stream_->Write(out.data(), fileRowBytes, nullptr))) return fail(E_FAIL);
        } else if (static_cast<std::size_t>(row + 1 - first) == rowsPerWrite || row + 1 == height) {
            const BYTE* start = rows.pixels + first * rowBytes;
            const auto bytes = static_cast<ULONG>((row + 1 - first) * rowBytes);
            if (FAILED(stream_->Write(start, bytes, nullptr))) return fail(E_FAIL);
            first = row + 1;
        }
    }
    return stream_->Commit();
}

} // namespace

ComObjectBase* CreateBmpTranslator(IUnknown* outer, HRESULT* result) {
    return Create<BmpTranslator>(outer, result);
}

} // namespace rastrel
