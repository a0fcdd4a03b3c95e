#pragma once
// The registry calls of the platform over a REGEDIT4 text file. The file is
// named by RASTREL_REGISTRY, else $XDG_CONFIG_HOME/rastrel/registry.reg (or
// ~/.config/rastrel/registry.reg). Every change rewrites the file atomically
// under a lock, so processes that register at the same time do not lose
// each other's keys. Failures return the platform's error codes.
#include "platform/Types.h"

#include <string>

struct RegistryKeyTag;
using HKEY = RegistryKeyTag*;

extern HKEY const HKEY_CLASSES_ROOT;
extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, const char* keyClass,
                     DWORD options, REGSAM access, void* security, HKEY* result,
                     DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key that has no subkeys (a key with subkeys: ERROR_ACCESS_DENIED).
LONG RegDeleteKeyA(HKEY key, const char* subKey);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   char* keyClass, DWORD* classSize, void* lastWriteTime);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);

// The file the calls above use.
std::string RegistryFilePath();

// What was wrong with the registry file when it was last read: its name,
// the first line not understood and that line ("" when nothing was). Such
// lines are skipped when keys are looked up (with a warning on stderr),
// and a file holding any is never rewritten: changes fail with
// ERROR_BADDB instead of dropping what could not be read.
std::string RegistryFileProblem();

// Holds the registry file's lock while it lives, so that a series of
// changes (one library's registration or removal) reaches other processes
// as one. Nests; the calls above made meanwhile in this process run inside it.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
};
