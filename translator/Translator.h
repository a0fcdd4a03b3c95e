#pragma once
// The translator base every format's translator stands on: ITranslator and
// ITranslatorOptions with the base's answers, the file stream, the progress
// sink, and the helpers of the common load and save sequences.
#include "Codec.h"
#include "ServerFrame.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

#include <functional>

namespace rastrel {

// The file stream the translators read and write through.
struct IFileStream : IUnknown {
    // GENERIC_READ: an existing file. GENERIC_WRITE: a temporary beside the
    // name, which only Commit() puts under the name; Close() or Open()
    // before Commit() removes it and leaves what was there.
    virtual HRESULT Open(const char* fileName, DWORD access) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT IsOpen() = 0;
    virtual HRESULT Seek(LONG offset, DWORD origin, DWORD* position) = 0;
    virtual HRESULT Read(void* buffer, DWORD count, DWORD* done) = 0;
    virtual HRESULT Write(const void* buffer, DWORD count, DWORD* done) = 0;
    virtual HRESULT GetSize(DWORD* size) = 0;
    // Closes a written file and renames it over the name; E_FAIL (the
    // temporary removed) when the last bytes or the rename fail.
    virtual HRESULT Commit() = 0;
};
IFileStream* NewFileStream();

// Fixed answers of ITranslatorOptions, one set per format.
struct OptionValues {
    LONG value3;
    HRESULT query7;
    LONG value8;
    HRESULT query9;
    HRESULT query10;
    WORD compressionLevels;
};

class TranslatorBase : public ComObjectBase,
                       public Delegating<TranslatorBase, ITranslator>,
                       public Delegating<TranslatorBase, ITranslatorOptions> {
public:
    TranslatorBase(IUnknown* outer, const char* extension, const OptionValues& values);
    ~TranslatorBase() override;

    // ITranslator
    HRESULT Probe(const char* fileName) override;
    HRESULT CanLoad() override;
    HRESULT CanSave() override;
    HRESULT GetExtension(LONG size, char* buffer) override;
    HRESULT Reserved() override;
    HRESULT SetProgressSink(IProgressSink* sink) override;
    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* sink) override;
    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* sink) override;

    // ITranslatorOptions
    HRESULT GetValue3(LONG* value) override;
    HRESULT SetSaveDepth(LONG depth) override;
    HRESULT GetCount(LONG* count) override;
    HRESULT SetCount(LONG count) override;
    HRESULT Query7() override;
    HRESULT GetValue8(LONG* value) override;
    HRESULT Query9() override;
    HRESULT Query10() override;
    HRESULT GetCompressionLevels(WORD* levels) override;
    HRESULT SetCompression(WORD value) override;
    HRESULT GetCompression(WORD* value) override;

    using ComObjectBase::AddRef;
    using ComObjectBase::QueryInterface;
    using ComObjectBase::Release;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override;
    // The sink of a call: the one given, else the translator's own.
    IProgressSink* SinkFor(IProgressSink* given) const { return given ? given : sink_.get(); }
    ITranslator* Self() { return static_cast<ITranslator*>(this); }
    // Every load: the arguments checked, the sink's session around it, the
    // file opened, then `read` from it; the bitmap `read` leaves in `made` is
    // handed out as this translator's.
    using LoadStep = std::function<HRESULT(platform::ByteSource& source, IProgressSink* sink,
                                           ComPtr<IBitmapImage>& made)>;
    HRESULT LoadFile(const char* fileName, IBitmapImage** bitmap, IProgressSink* given,
                     const LoadStep& read);
    // A new, empty bitmap object for a codec to fill.
    static HRESULT NewBitmap(ComPtr<IBitmapImage>& made);

    ComPtr<IFileStream> stream_;
    LONG saveDepth_ = 0;
    WORD compression_ = 0;

private:
    const char* extension_;
    OptionValues values_;
    ComPtr<IProgressSink> sink_;
};

// Begin on construction, End on destruction, when there is a sink; the
// phases announced in between hold for every record of the operation.
class SinkSession {
public:
    explicit SinkSession(IProgressSink* sink) : sink_(sink) {
        if (sink_) sink_->Begin();
    }
    ~SinkSession() {
        SetOperationPhases(0);
        if (sink_) sink_->End();
    }
    SinkSession(const SinkSession&) = delete;
    SinkSession& operator=(const SinkSession&) = delete;

private:
    IProgressSink* sink_;
};

// SetPhaseCount on the sink; conversions run within the load or save then
// carry the same count in their records' phase field.
inline void AnnouncePhases(IProgressSink* sink, LONG phases) {
    SetOperationPhases(phases);
    if (sink) sink->SetPhaseCount(phases);
}

// The save of the codec translators: the bitmap's rows in 24 bits
// (converted first, a phase of its own, unless they are), described as a
// codec image for `write`, whose codec result becomes the HRESULT. The
// caller holds the sink's Begin and End.
HRESULT SaveRgbRows(IBitmapImage* bitmap, IProgressSink* sink,
                    const std::function<int(CodecImage&, ProgressRecord*)>& write);

// The phases a load announces: one for reading, one for a conversion from
// the translator's own format, one more for a palette made from the colours.
LONG LoadPhases(DWORD own, DWORD requested);
// Converts a loaded bitmap to the requested format, replacing it. A cancel
// stays E_ABORT; every other conversion failure is E_FAIL.
HRESULT ConvertLoaded(ComPtr<IBitmapImage>& bitmap, DWORD format, IProgressSink* sink);

ComObjectBase* CreateTgaTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateBmpTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreatePngTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateJpegTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreatePcxTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateTiffTranslator(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateTranslatorManager(IUnknown* outer, HRESULT* result);

} // namespace rastrel
