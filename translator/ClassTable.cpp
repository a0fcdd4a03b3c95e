// The classes the library serves, and its entry point, which runs once they
// are all in the list.
#include "Bitmap.h"
#include "ServerFrame.h"

namespace rastrel {

ComObjectBase* CreateConversionSettings(IUnknown* outer, HRESULT* result);
ComObjectBase* CreateBitmapOperations(IUnknown* outer, HRESULT* result);
void ProcessAttach(bool attach);

namespace {

ClassEntry g_bitmapClass(&CLSID_Bitmap, &Create<BitmapObject>, nullptr);
ClassEntry g_settingsClass(&CLSID_ConversionSettings, &CreateConversionSettings, nullptr);
ClassEntry g_operationsClass(&CLSID_BitmapOperations, &CreateBitmapOperations, nullptr);

struct EntryPoint {
    EntryPoint() { ProcessAttach(true); }
    ~EntryPoint() { ProcessAttach(false); }
} g_entryPoint;

} // namespace
} // namespace rastrel
