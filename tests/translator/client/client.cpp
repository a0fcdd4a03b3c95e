// A client built only from the installed headers and pkg-config file.
#include <cstdio>
#include <platform/ComPtr.h>
#include <rastrel.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    CoInitialize(nullptr);
    HRESULT hr = S_OK;
    {
        ComPtr<IBitmapImage> bitmap, yuv;
        hr = CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                              bitmap.Out());
        if (SUCCEEDED(hr)) hr = bitmap->Create(720, 486, PF_RGB24);
        if (SUCCEEDED(hr)) hr = bitmap->Convert(PF_YUV16, &yuv, nullptr);
        if (SUCCEEDED(hr)) hr = yuv->SaveToStorage(argv[1]);
    }
    CoUninitialize();
    std::printf("0x%08X\n", static_cast<unsigned>(hr));
    return FAILED(hr);
}
