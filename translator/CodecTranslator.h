#pragma once
// What the PCX and TIFF translators share: a load into a bitmap through a
// codec image of 1, 8 or 24 bits, and the rows a save writes from.
#include "Codec.h"
#include "Translator.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

#include <functional>

namespace rastrel {

// Fills a codec image (rectangle = the whole image) from the file.
using CodecReader = std::function<int(CodecImage&, ProgressRecord&)>;

// Creates `bitmap` (new and empty) at width x height in 0x400 for 24 bits,
// else 0x4000, reads it through `read` (1-bit images through a codec image
// of their own, expanded to black and white) and converts it to `format`.
// Sizes beyond what a codec image holds are refused before anything is
// allocated.
HRESULT ReadCodecBitmap(LONG width, LONG height, int bits, DWORD format, IProgressSink* sink,
                        const CodecReader& read, ComPtr<IBitmapImage>& bitmap);

// The rows a save writes from: 8 bits with the bitmap's palette for 0x4000
// bitmaps, 24 bits for all others.
struct SaveRows {
    ComPtr<IBitmapImage> converted; // keeps converted rows alive
    BITMAPINFOHEADER header{};
    RGBQUAD palette[256]{};
    CodecImage image{};
    LONG phases = 1;
};
// Depth 24 saves from 0x400, 8 from 0x4000; any other depth (also none)
// keeps 0x400 and 0x4000 bitmaps as they are and turns the rest into 0x400.
HRESULT PrepareSaveRows(IBitmapImage* bitmap, LONG depth, IProgressSink* sink, SaveRows& rows);

// A translator over a codec that keeps a header record: `Codec` names the
// format's extension, option values and routines (see PcxTranslator.cpp).
template <class Codec> class CodecTranslator final : public TranslatorBase {
public:
    explicit CodecTranslator(IUnknown* outer)
        : TranslatorBase(outer, Codec::kExtension, Codec::kOptions) {}

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        const int code = Codec::Probe(source, header_);
        return code == kCodecOk ? S_OK : code == Codec::kNotFormat ? S_FALSE : E_FAIL;
    }
    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetSaveDepth(LONG depth) override {
        if (depth == 0) return S_FALSE;
        Codec::KeepSaveDepth(header_, saveDepth_, depth);
        return S_OK;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        return this->LoadFile(fileName, bitmap, given, [&](auto& source, auto* sink, auto& made) {
            if (Codec::Probe(source, header_) != kCodecOk) return E_FAIL;
            if (const HRESULT hr = this->NewBitmap(made); FAILED(hr)) return hr;
            AnnouncePhases(sink, LoadPhases(Codec::Format(header_), format));
            return Codec::Read(source, header_, format, sink, made);
        });
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override {
        if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        SaveRows rows;
        const LONG depth = Codec::SaveDepth(header_, saveDepth_);
        if (const HRESULT hr = PrepareSaveRows(bitmap, depth, sink, rows); FAILED(hr)) return hr;
        ProgressRecord progress{0, rows.header.biHeight, 0, rows.phases};
        return CodecResultToHresult(Codec::Write(fileName, rows.image, sink, &progress));
    }

private:
    typename Codec::Header header_{};
};

} // namespace rastrel
