// The library's exports, class factory, aggregation, unload rule and
// self-registration, through its entry points as a loader sees them.
#include "RegistryFile.h"
#include "support/RastrelTesting.h"

#include <fstream>

using namespace rastrel::testing;

namespace {

const CLSID kClasses[] = {CLSID_Bitmap, CLSID_ConversionSettings, CLSID_BitmapOperations};

class Exports : public ScratchTest {
protected:
    void SetUp() override {
        ::setenv("RASTREL_REGISTRY", (scratch / "reg.reg").c_str(), 1);
        ASSERT_TRUE(getClassObject_ && canUnloadNow_ && registerServer_ && unregisterServer_);
    }
    void TearDown() override {
        FreeLibrary(module_);
        ::setenv("RASTREL_REGISTRY", previous_.c_str(), 1);
    }
    template <class Function> Function Entry(const char* name) const {
        return reinterpret_cast<Function>(GetProcAddress(module_, name));
    }
    ComPtr<IClassFactory> Factory(const CLSID& clsid) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject_(clsid, IID_IClassFactory, factory.Out()), S_OK);
        return factory;
    }

    const std::string previous_ = std::getenv("RASTREL_REGISTRY"); // the binary's own
    const HMODULE module_ = LoadLibraryA(RASTREL_LIBRARY);
    const DllGetClassObjectFunction getClassObject_ =
        Entry<decltype(getClassObject_)>("DllGetClassObject");
    const DllCanUnloadNowFunction canUnloadNow_ = Entry<decltype(canUnloadNow_)>("DllCanUnloadNow");
    const DllRegisterServerFunction registerServer_ =
        Entry<decltype(registerServer_)>("DllRegisterServer");
    const DllRegisterServerFunction unregisterServer_ =
        Entry<decltype(unregisterServer_)>("DllUnregisterServer");
};

TEST_F(Exports, ClassObjectsForKnownClassesOnly) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(IID_IBitmapImage, IID_IClassFactory, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject_(CLSID_Bitmap, IID_IBitmapImage, &out), E_NOINTERFACE);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(getClassObject_(CLSID_Bitmap, IID_IUnknown, unknown.Out()), S_OK);
    EXPECT_EQ(unknown.Detach()->Release(), 0u);
}

TEST_F(Exports, EachClassMakesObjectsWithOneReference) {
    const IID interfaces[] = {IID_IBitmapImage, IID_IConversionSettings, IID_IBitmapOperations};
    for (int i = 0; i < 3; ++i) {
        ComPtr<IClassFactory> factory = Factory(kClasses[i]);
        ASSERT_TRUE(factory);
        void* made = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, interfaces[i], &made), S_OK);
        auto* object = static_cast<IUnknown*>(made);
        EXPECT_EQ(canUnloadNow_(), S_FALSE);
        // Each interface answers for the object's others and for IUnknown.
        IUnknown* unknown = nullptr;
        ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(interfaces[(i + 1) % 3], &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
        EXPECT_EQ(unknown->Release(), 1u);
        EXPECT_EQ(object->Release(), 0u);
        EXPECT_EQ(canUnloadNow_(), S_OK);
        void* wrong = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &wrong), E_NOINTERFACE);
        EXPECT_EQ(wrong, nullptr);
        EXPECT_EQ(canUnloadNow_(), S_OK); // the refused object was destroyed
    }
}

// An outer object that hands everything to its inner bitmap and counts the
// references the inner object's interfaces add to it.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    IUnknown* inner = nullptr;
    ULONG references = 1;
};

TEST_F(Exports, AggregationDelegatesToTheOuterObject) {
    ComPtr<IClassFactory> factory = Factory(CLSID_Bitmap);
    Outer outer;
    void* out = nullptr;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IBitmapImage, &out), E_NOINTERFACE);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    IBitmapImage* image = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IBitmapImage, reinterpret_cast<void**>(&image)), S_OK);
    EXPECT_EQ(outer.references, 2u); // the reference went to the outer object
    IUnknown* viaImage = nullptr;
    ASSERT_EQ(image->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaImage)), S_OK);
    EXPECT_EQ(viaImage, &outer);
    viaImage->Release();
    EXPECT_EQ(image->Create(4, 2, PF_RGB24), S_OK);
    image->Release();
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(Exports, OnlyALockedFactoryHoldsTheLibrary) {
    ComPtr<IClassFactory> factory = Factory(CLSID_ConversionSettings);
    EXPECT_EQ(canUnloadNow_(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(Factory(CLSID_ConversionSettings)->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(Exports, RegistersAndUnregistersEveryClass) {
    ASSERT_EQ(registerServer_(), S_OK);
    const std::string library = std::filesystem::canonical(RASTREL_LIBRARY).string();
    auto text0 = [](const std::string& text) {
        return std::vector<BYTE>(text.c_str(), text.c_str() + text.size() + 1);
    };
    auto tree = platform::ParseRegistryText(ReadBytes(scratch / "reg.reg"));
    ASSERT_TRUE(tree);
    char text[39];
    for (const CLSID& clsid : kClasses) {
        GuidToText(clsid, text);
        platform::RegistryNode* key =
            tree->Find(std::string("HKEY_CLASSES_ROOT\\CLSID\\") + text + "\\InprocServer32");
        ASSERT_TRUE(key && key->Value("") && key->Value("ThreadingModel")) << text;
        EXPECT_EQ(std::pair(key->Value("")->data, key->Value("ThreadingModel")->data),
                  std::pair(text0(library), text0("Both")));
    }
    // A class key that holds another subkey keeps it and stays.
    GuidToText(CLSID_Bitmap, text);
    std::ofstream(scratch / "reg.reg", std::ios::app)
        << "[HKEY_CLASSES_ROOT\\CLSID\\" << text << "\\Extra]\n";
    ASSERT_EQ(unregisterServer_(), S_OK);
    const std::string after = ReadBytes(scratch / "reg.reg");
    EXPECT_EQ(after.find("InprocServer32"), std::string::npos) << after;
    EXPECT_NE(after.find(std::string(text) + "\\Extra]"), std::string::npos) << after;
    GuidToText(CLSID_ConversionSettings, text);
    EXPECT_EQ(after.find(text), std::string::npos) << after;
    // Nothing left to remove: the first missing key is the failure.
    EXPECT_EQ(unregisterServer_(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(Exports, RegistryFailuresComeBackAsHresults) {
    WriteBytes(scratch / "reg.reg", "not\n");
    EXPECT_EQ(registerServer_(), HRESULT_FROM_WIN32(ERROR_BADDB));
}

} // namespace
