// The classes the library serves, and its entry point, which runs once they
// are all in the list.
#include "Bitmap.h"
#include "ServerFrame.h"
#include "Translator.h"

namespace rastrel {

ComObjectBase* CreateConversionSettings(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateBitmapOperations(IUnknown* outer, HRESULT* result);
void ProcessAttach(bool attach);

namespace {

ClassEntry g_bitmapClass(&CLSID_Bitmap, &Create<BitmapObject>, nullptr);
ClassEntry g_settingsClass(&CLSID_ConversionSettings, &CreateConversionSettings, nullptr);
ClassEntry g_operationsClass(&CLSID_BitmapOperations, &CreateBitmapOperations, nullptr);
ClassEntry g_managerClass(&CLSID_TranslatorManager, &CreateTranslatorManager, nullptr);
ClassEntry g_bmpClass(&CLSID_BmpTranslator, &CreateBmpTranslator, nullptr);
ClassEntry g_tgaClass(&CLSID_TgaTranslator, &CreateTgaTranslator, nullptr);
ClassEntry g_pngClass(&CLSID_PngTranslator, &CreatePngTranslator, nullptr);
ClassEntry g_jpegClass(&CLSID_JpegTranslator, &CreateJpegTranslator, nullptr);
ClassEntry g_pcxClass(&CLSID_PcxTranslator, &CreatePcxTranslator, nullptr);
ClassEntry g_tiffClass(&CLSID_TiffTranslator, &CreateTiffTranslator, nullptr);

struct EntryPoint {
    EntryPoint() { ProcessAttach(true); }
    ~EntryPoint() { ProcessAttach(false); }
} g_entryPoint;

} // namespace
} // namespace rastrel
