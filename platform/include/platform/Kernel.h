#pragma once
// Loader, last-error, global memory and file calls of the platform, over
// dlopen, malloc and POSIX files.
#include "platform/Types.h"

struct ModuleTag;
using HMODULE = ModuleTag*; // the module's load address, as on the platform
using HINSTANCE = HMODULE;
using HANDLE = void*;
using HGLOBAL = void*;
using HFILE = INT;
using FARPROC = void (*)();

inline constexpr HFILE HFILE_ERROR = -1;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});
inline constexpr DWORD MAX_PATH = 260;

DWORD GetLastError();
void SetLastError(DWORD code);
// The platform's error code for a POSIX errno value.
DWORD SystemErrorFromErrno(int error);

// Loader. A module handle is the address the library is loaded at.
HMODULE LoadLibraryA(const char* path);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, const char* name);
// Full path of the module (null: the program). When the buffer is too small
// the path is cut, the count returned equals size and the last error is
// ERROR_INSUFFICIENT_BUFFER, as on the platform.
DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size);
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;
BOOL GetModuleHandleExA(DWORD flags, const char* nameOrAddress, HMODULE* module);

// Global memory: movable blocks reached through a lock.
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
HGLOBAL GlobalReAlloc(HGLOBAL block, std::size_t bytes, UINT flags);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
std::size_t GlobalSize(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block); // null on success

// The older file calls the codecs use.
inline constexpr INT OF_READ = 0x0000;
inline constexpr INT OF_WRITE = 0x0001;
inline constexpr INT OF_READWRITE = 0x0002;
HFILE _lopen(const char* path, INT mode);
HFILE _lcreat(const char* path, INT attributes);
UINT _lread(HFILE file, void* buffer, UINT count);
UINT _lwrite(HFILE file, const void* buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, INT origin);
HFILE _lclose(HFILE file);

// File handles.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD creation,
                   DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL CloseHandle(HANDLE handle);
// The handle of an open POSIX descriptor that stays the caller's (do not
// CloseHandle it).
HANDLE HandleFromDescriptor(int fd);
BOOL DeleteFileA(const char* path);
