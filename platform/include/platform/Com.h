#pragma once
// The component runtime: in-process servers found by class identifier in the
// registry ("CLSID\{...}\InprocServer32"), loaded once with dlopen and asked
// for class objects through their DllGetClassObject.
#include "platform/Types.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = 0x17;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// S_OK for the thread's first call, S_FALSE for each further one; every
// successful call needs its CoUninitialize.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD model);
void CoUninitialize();

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
// Unloads every server library whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

void* CoTaskMemAlloc(std::size_t bytes);
void* CoTaskMemRealloc(void* memory, std::size_t bytes);
void CoTaskMemFree(void* memory);

// The entry points an in-process server exports.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
