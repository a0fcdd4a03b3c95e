// The conversion settings object and the bitmap operations object.
#include "Palette.h"
#include "ServerFrame.h"
#include "YuvConversion.h"

#include <algorithm>

namespace rastrel {

class ConversionSettingsObject final
    : public ComObjectBase,
      public Delegating<ConversionSettingsObject, IConversionSettings> {
public:
    explicit ConversionSettingsObject(IUnknown* outer) : ComObjectBase(outer) {}

    HRESULT SetMode(LONG mode) override {
        Settings().mode = mode;
        if (mode == 1) Settings().paletteMode = 1;
        return S_OK;
    }
    HRESULT GetMode(LONG* mode) override {
        if (mode == nullptr) return E_INVALIDARG;
        *mode = Settings().mode;
        return S_OK;
    }
    HRESULT SetPaletteMode(LONG mode) override {
        ConversionState& state = Settings();
        state.paletteMode = mode;
        if (mode == 1 && !state.paletteSet) LoadBuiltInPalette(state);
        return S_OK;
    }
    HRESULT GetPaletteMode(LONG* mode) override {
        if (mode == nullptr) return E_INVALIDARG;
        *mode = Settings().paletteMode;
        return S_OK;
    }
    HRESULT SetPalette(const RGBQUAD* entries, LONG count) override {
        // The palette holds 256 entries: more would overrun it.
        if (count < 0 || count > 256 || (entries == nullptr && count > 0)) return E_INVALIDARG;
        ConversionState& state = Settings();
        std::copy(entries, entries + count, state.palette.begin());
        state.count = count;
        state.paletteSet = true;
        return S_OK;
    }
    HRESULT ResetPalette() override {
        LoadBuiltInPalette(Settings());
        Settings().paletteSet = true;
        return S_OK;
    }

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IConversionSettings)
            return Hand(static_cast<IConversionSettings*>(this), ppv);
        return E_NOINTERFACE;
    }
};

class BitmapOperationsObject final : public ComObjectBase,
                                     public Delegating<BitmapOperationsObject, IBitmapOperations> {
public:
    explicit BitmapOperationsObject(IUnknown* outer) : ComObjectBase(outer) {}

    HRESULT InsertAlpha(IBitmapImage* target, IBitmapImage* source) override {
        if (target == nullptr || source == nullptr) return E_FAIL;
        return target->InsertAlpha(source);
    }
    HRESULT RowToYuv(BYTE* output, BOOL outputAlpha, const BYTE* input, BOOL inputAlpha,
                     LONG width) override {
        if (output == nullptr || input == nullptr || width < 0) return E_INVALIDARG;
        rastrel::RowToYuv(tables_, output, outputAlpha != 0, input, inputAlpha != 0, width);
        return S_OK;
    }
    HRESULT RowFromYuv(BYTE* output, BOOL outputAlpha, const BYTE* input, BOOL inputAlpha,
                       LONG width) override {
        if (output == nullptr || input == nullptr || width < 0) return E_INVALIDARG;
        rastrel::RowFromYuv(tables_, output, outputAlpha != 0, input, inputAlpha != 0, width);
        return S_OK;
    }
    HRESULT RowToYuvQuad(const BYTE* input, BYTE* output, LONG count) override {
        if (output == nullptr || input == nullptr || count < 0) return E_INVALIDARG;
        rastrel::RowToYuvQuad(tables_, input, output, count);
        return S_OK;
    }

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IBitmapOperations) return Hand(static_cast<IBitmapOperations*>(this), ppv);
        return E_NOINTERFACE;
    }

private:
    YuvTables tables_;
};

ComObjectBase* CreateConversionSettings(IUnknown* outer, HRESULT* result) {
    return Create<ConversionSettingsObject>(outer, result);
}
ComObjectBase* CreateBitmapOperations(IUnknown* outer, HRESULT* result) {
    return Create<BitmapOperationsObject>(outer, result);
}

} // namespace rastrel
