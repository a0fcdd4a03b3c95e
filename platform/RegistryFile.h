#pragma once
// The registry's tree and its REGEDIT4 text form (parser and writer).
#include "platform/Registry.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Key and value names compare without regard to ASCII case, as on the platform.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct RegistryValue {
    std::string name; // as written; "" is the default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegistryNode {
    std::string name;
    std::vector<RegistryValue> values;
    std::map<std::string, std::unique_ptr<RegistryNode>, CaseInsensitiveLess> children;

    RegistryNode* Child(const std::string& childName) const;
    RegistryValue* Value(const std::string& valueName);
    // The node at a path of names separated by '\'; null when missing.
    RegistryNode* Find(std::string_view path);
    // Creates the missing keys along the path; sets created when any was new.
    RegistryNode* Create(std::string_view path, bool* created);
};

// The first line of a registry file that was not understood (numbered
// from 1), and how many there were.
struct RegistryProblem {
    int firstBadLine = 0;
    std::string firstBadText;
    int badLines = 0;
};

// Parses REGEDIT4 text into a tree whose children are the root keys
// ("HKEY_CLASSES_ROOT", ...). Empty text is an empty registry. Without a
// problem record, nothing is returned for text that is not a well-formed
// registry file; with one, lines not understood are skipped and counted
// there (and nothing returned only when the REGEDIT4 line is missing).
std::optional<RegistryNode> ParseRegistryText(std::string_view text,
                                              RegistryProblem* problem = nullptr);
std::string WriteRegistryText(const RegistryNode& tree);

// Whether a key or value name can be stored (no control characters, no '\'
// in key names, at most 255 characters).
bool IsStorableKeyName(std::string_view name);
bool IsStorableValueName(std::string_view name);

} // namespace platform
