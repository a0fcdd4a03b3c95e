#pragma once
// rastrel: loads and saves raster images through components reached by class
// identifier. Create objects with CoCreateInstance(CLSID_..., nullptr,
// CLSCTX_INPROC_SERVER, IID_..., &pointer) after CoInitialize; every pointer
// handed out carries one reference that the receiver releases.
#include "platform/Com.h"
#include "platform/Gdi.h"
#include "platform/Storage.h"
#include "platform/Types.h"

// Classes served by librastrel.so.
inline constexpr CLSID CLSID_TranslatorManager = {
    0xC5005887, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_BmpTranslator = {
    0xC5005888, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_JpegTranslator = {
    0xC500588F, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_PcxTranslator = {
    0xC500588C, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_TiffTranslator = {
    0xC500588D, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_PngTranslator = {
    0xC500588E, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_TgaTranslator = {
    0xC500588B, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_Bitmap = {
    0xC500588A, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_ConversionSettings = {
    0xC5005970, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr CLSID CLSID_BitmapOperations = {
    0xC5005889, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};

// The thumbnail writer a compound-file save calls (a component of its own).
inline constexpr CLSID CLSID_ThumbnailWriter = {
    0xC50058B7, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};

inline constexpr IID IID_IBitmapImage = {
    0x8335E5F7, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_IConversionSettings = {
    0x8335E600, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_IBitmapOperations = {
    0x8335E5F8, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_ITranslator = {
    0x8335E5F5, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_ITranslatorManager = {
    0x8335E5F2, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_IFormatEnumerator = {
    0x8335E5F1, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_ITranslatorOptions = {
    0x8335E5F6, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_IFileStream = {
    0x8335E5F4, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};
inline constexpr IID IID_IThumbnailWriter = {
    0x8335E411, 0xAB3B, 0x11CE, {0x84, 0x68, 0x00, 0x00, 0xB4, 0x68, 0x27, 0x6B}};

// Pixel formats: one bit each. Words are 16-bit little-endian; 10-bit
// samples sit in the low bits of their word (or packed field) and run
// 0 ... 1023. Convert turns every format into every other: 8-bit and 10-bit
// samples scale with rounding (w = (v * 1023 + 127) / 255, v = (w * 255 +
// 511) / 1023), grey is the BT.601 luma (299 R + 587 G + 114 B + 500) /
// 1000, alpha is kept where both sides have it and is opaque otherwise.
// The YUV pair formats hold one colour difference a pixel: Cb on even
// pixels, Cr on odd ones, both taken from the pair's first pixel.
enum : DWORD {
    PF_GREY8 = 0x1,     // one byte a pixel, rows padded to 4 bytes
    PF_GREY10 = 0x2,    // one word a pixel
    PF_YUV16 = 0x4,     // Cb Y0 Cr Y1, two bytes per pixel
    PF_YUV16A = 0x8,    // Cb Y0 A0 Cr Y1 A1
    PF_YUV20 = 0x10,    // a pair format, three bytes a pixel: a 24-bit little-endian
                        // field with the colour difference in bits 0-9, Y in 10-19
    PF_YUV30A = 0x20,   // as 0x10 in a 32-bit field, and alpha in bits 20-29
    PF_YUV24 = 0x40,    // Cb Y0 255 Cr Y1 255
    PF_YUV32A = 0x80,   // Y Cb Cr A, every pixel its own colour
    PF_YUV30 = 0x100,   // words Y Cb Cr, every pixel its own colour
    PF_YUV40A = 0x200,  // words Y Cb Cr A
    PF_RGB24 = 0x400,   // blue, green, red
    PF_RGB32A = 0x800,  // blue, green, red, alpha
    PF_RGB30 = 0x1000,  // words blue, green, red
    PF_RGB40A = 0x2000, // words blue, green, red, alpha
    PF_PALETTE8 = 0x4000,
    PF_RGB16 = 0x8000, // 5-5-5, blue lowest
    PF_PALETTE4 = 0x10000,
};

// The largest pixel buffer (rows x row bytes) a bitmap may hold: 1 GiB.
// Create refuses a larger image with E_FAIL, and a load whose picture would
// need more fails with E_FAIL before anything is allocated, so a small
// damaged file cannot make the library take gigabytes.
inline constexpr DWORD RASTREL_MAX_PIXEL_BYTES = 1u << 30;

// An image as a device-independent bitmap: the 40-byte header (followed by
// 1024 bytes of palette for 0x1, 0x4000 and 0x10000), the format, and the
// rows, bottom row first.
struct BitmapImage {
    BITMAPINFOHEADER* header;
    DWORD format;
    BYTE* pixels;
};

// Passed to the client's progress sink.
struct ProgressRecord {
    LONG step;   // the row or step done
    LONG total;  // rows of the operation
    LONG pass;   // 0 for single-pass work
    LONG phases; // phases of the whole operation
};

// Implemented by the client. Step returning S_FALSE (1) cancels.
struct IProgressSink : IUnknown {
    virtual HRESULT Begin() = 0;
    virtual HRESULT End() = 0;
    virtual HRESULT SetPhaseCount(LONG count) = 0;
    virtual HRESULT Step(ProgressRecord* progress) = 0;
};

struct IBitmapImage;

struct ITranslator : IUnknown {
    virtual HRESULT Probe(const char* fileName) = 0;
    virtual HRESULT CanLoad() = 0;
    virtual HRESULT CanSave() = 0;
    virtual HRESULT GetExtension(LONG size, char* buffer) = 0;
    virtual HRESULT Reserved() = 0;
    virtual HRESULT SetProgressSink(IProgressSink* sink) = 0;
    virtual HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                         IProgressSink* sink) = 0;
    virtual HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* sink) = 0;
};

struct IBitmapImage : IUnknown {
    virtual HRESULT Create(LONG width, LONG height, DWORD format) = 0;
    virtual HRESULT Attach(BITMAPINFOHEADER* header, DWORD format, BYTE* pixels) = 0;
    virtual HRESULT Clone(IBitmapImage** copy) = 0;
    virtual HRESULT SaveToStorage(const char* fileName) = 0;
    virtual HRESULT LoadFromStorage(const char* fileName) = 0;
    virtual HRESULT GetImage(BitmapImage* image) = 0;
    virtual HRESULT GetHeaderSize(DWORD* bytes) = 0;
    virtual HRESULT GetPixelBytes(DWORD* bytes) = 0;
    virtual HRESULT GetTranslator(ITranslator** translator) = 0;
    virtual HRESULT SetTranslator(ITranslator* translator) = 0;
    virtual HRESULT Convert(DWORD format, IBitmapImage** converted, IProgressSink* sink) = 0;
    virtual HRESULT GetPaletteBytes(DWORD* bytes) = 0;
    virtual HRESULT ApplyPalette(LONG value) = 0;
    virtual HRESULT GetRowBytes(DWORD* bytes) = 0;
    virtual HRESULT InsertAlpha(IBitmapImage* source) = 0;
};

// Module-wide: every object of the library sees the same values.
struct IConversionSettings : IUnknown {
    virtual HRESULT SetMode(LONG mode) = 0; // 1: fixed reduction palette
    virtual HRESULT GetMode(LONG* mode) = 0;
    virtual HRESULT SetPaletteMode(LONG mode) = 0;
    virtual HRESULT GetPaletteMode(LONG* mode) = 0;
    virtual HRESULT SetPalette(const RGBQUAD* entries, LONG count) = 0;
    virtual HRESULT ResetPalette() = 0;
};

struct IBitmapOperations : IUnknown {
    virtual HRESULT InsertAlpha(IBitmapImage* target, IBitmapImage* source) = 0;
    virtual HRESULT RowToYuv(BYTE* output, BOOL outputAlpha, const BYTE* input, BOOL inputAlpha,
                             LONG width) = 0;
    virtual HRESULT RowFromYuv(BYTE* output, BOOL outputAlpha, const BYTE* input, BOOL inputAlpha,
                               LONG width) = 0;
    virtual HRESULT RowToYuvQuad(const BYTE* input, BYTE* output, LONG count) = 0;
};

// Every translator's settings. The gets store into their argument; the
// queries answer with a fixed S_OK or S_FALSE per format.
struct ITranslatorOptions : IUnknown {
    virtual HRESULT GetValue3(LONG* value) = 0;
    // BMP: the bit count files are written with (1, 4, 8, 16, 24 or 32).
    virtual HRESULT SetSaveDepth(LONG depth) = 0;
    virtual HRESULT GetCount(LONG* count) = 0;
    virtual HRESULT SetCount(LONG count) = 0;
    virtual HRESULT Query7() = 0;
    virtual HRESULT GetValue8(LONG* value) = 0;
    virtual HRESULT Query9() = 0;
    virtual HRESULT Query10() = 0;
    virtual HRESULT GetCompressionLevels(WORD* levels) = 0;
    // Targa: 0 uncompressed, 1 run-length encoded; JPEG: the quality.
    virtual HRESULT SetCompression(WORD value) = 0;
    virtual HRESULT GetCompression(WORD* value) = 0;
};

// The rows of the manager's format table, one at a time. Texts are copied
// as by a bounded string copy: no terminator when cut.
struct IFormatEnumerator : IUnknown {
    virtual HRESULT Next(LONG extensionSize, LONG descriptionSize, char* extension,
                         char* description) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IFormatEnumerator** copy) = 0;
};

// Finds the translator of a file and loads and saves through it.
struct ITranslatorManager : IUnknown {
    // Probes the file with each format's translator in table order: S_OK with
    // the translator (and its extension in the buffer), S_FALSE when none
    // accepts it.
    virtual HRESULT FindTranslator(const char* fileName, LONG size, char* extension,
                                   ITranslator** translator) = 0;
    // Exact match: "TGA", not "tga" or ".TGA".
    virtual HRESULT TranslatorForExtension(const char* extension, ITranslator** translator) = 0;
    virtual HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                         IProgressSink* sink, ITranslator** translator) = 0;
    // Saves with the translator that loaded the bitmap.
    virtual HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* sink) = 0;
    virtual HRESULT EnumerateLoadFormats(IFormatEnumerator** formats) = 0;
    virtual HRESULT EnumerateSaveFormats(IFormatEnumerator** formats) = 0;
    virtual HRESULT SetProgressSink(IProgressSink* sink) = 0;
};

// Slot 3 stores a 64 x 48 picture of the bitmap in the storage.
struct IThumbnailWriter : IUnknown {
    virtual HRESULT WriteThumbnail(HBITMAP bitmap, IStorage* storage) = 0;
};
