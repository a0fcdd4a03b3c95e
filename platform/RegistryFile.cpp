#include "RegistryFile.h"

#include <cctype>
#include <cstdio>

namespace platform {
namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxDepth = 512;

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<DWORD> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    DWORD value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<DWORD>(digit);
    }
    return value;
}

std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view text) {
    std::vector<BYTE> bytes;
    text = Trim(text);
    if (text.empty()) return bytes;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        const auto value = ParseHexNumber(item, 2);
        if (!value) return std::nullopt;
        bytes.push_back(static_cast<BYTE>(*value));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return bytes;
}

// A quoted text with \\ and \" escapes; advances text past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    std::size_t i = 1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') break;
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return std::nullopt;
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    if (i >= text.size()) return std::nullopt;
    text.remove_prefix(i + 1);
    return out;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t slash = path.find('\\');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

bool IsValidPath(std::string_view path) {
    if (path.empty()) return false;
    const auto parts = SplitPath(path);
    if (parts.size() > kMaxDepth) return false;
    for (std::string_view part : parts)
        if (part.empty() || !IsStorableKeyName(part)) return false;
    return true;
}

bool RemovePath(RegistryNode& tree, std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    RegistryNode* parent =
        slash == std::string_view::npos ? &tree : tree.Find(path.substr(0, slash));
    if (parent == nullptr) return false;
    const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    return parent->children.erase(name) > 0;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

bool IsPlainString(const RegistryValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i)
        if (value.data[i] < 0x20 || value.data[i] == 0x7F) return false;
    return true;
}

void AppendValue(std::string& out, const RegistryValue& value) {
    std::size_t column = out.size();
    if (value.name.empty())
        out.push_back('@');
    else
        AppendQuoted(out, value.name);
    out.push_back('=');
    if (IsPlainString(value)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                           value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char text[20];
        const DWORD number = static_cast<DWORD>(value.data[0]) | (value.data[1] << 8) |
                             (value.data[2] << 16) | (static_cast<DWORD>(value.data[3]) << 24);
        std::snprintf(text, sizeof text, "dword:%08x", number);
        out += text;
    } else {
        char prefix[20];
        if (value.type == REG_BINARY)
            std::snprintf(prefix, sizeof prefix, "hex:");
        else
            std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
        out += prefix;
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
            out += byte;
            if (i + 1 < value.data.size()) {
                out.push_back(',');
                if (out.size() - column > 76) {
                    out += "\\\n  ";
                    column = out.size() - 2;
                }
            }
        }
    }
    out.push_back('\n');
}

void AppendNode(std::string& out, const RegistryNode& node, const std::string& path) {
    out += '[' + path + "]\n";
    for (const RegistryValue& value : node.values)
        AppendValue(out, value);
    out.push_back('\n');
    for (const auto& [name, child] : node.children)
        AppendNode(out, *child, path + '\\' + child->name);
}

} // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

RegistryNode* RegistryNode::Child(const std::string& childName) const {
    auto found = children.find(childName);
    return found == children.end() ? nullptr : found->second.get();
}

RegistryValue* RegistryNode::Value(const std::string& valueName) {
    for (RegistryValue& value : values)
        if (!CaseInsensitiveLess{}(value.name, valueName) &&
            !CaseInsensitiveLess{}(valueName, value.name))
            return &value;
    return nullptr;
}

RegistryNode* RegistryNode::Find(std::string_view path) {
    RegistryNode* node = this;
    if (path.empty()) return node;
    for (std::string_view part : SplitPath(path)) {
        node = node->Child(std::string(part));
        if (node == nullptr) return nullptr;
    }
    return node;
}

RegistryNode* RegistryNode::Create(std::string_view path, bool* created) {
    RegistryNode* node = this;
    if (path.empty()) return node;
    for (std::string_view part : SplitPath(path)) {
        const std::string partName(part);
        RegistryNode* child = node->Child(partName);
        if (child == nullptr) {
            auto fresh = std::make_unique<RegistryNode>();
            fresh->name = partName;
            child = fresh.get();
            node->children.emplace(partName, std::move(fresh));
            if (created) *created = true;
        }
        node = child;
    }
    return node;
}

bool IsStorableKeyName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == '[' || c == ']')
            return false;
    return true;
}

bool IsStorableValueName(std::string_view name) {
    if (name.size() > 16383) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

namespace {

// Logical lines, each with the number of its first physical line: a line
// ending in '\' goes on in the next one.
std::vector<std::pair<int, std::string>> LogicalLines(std::string_view text) {
    std::vector<std::pair<int, std::string>> lines;
    std::string pending;
    bool continues = false;
    int number = 0, first = 1;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!continues) first = number;
        line = continues ? Trim(line) : line;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view trimmed = Trim(line);
        continues = !trimmed.empty() && trimmed.back() == '\\' && !trimmed.starts_with('[') &&
                    !text.empty();
        if (continues) {
            pending.append(trimmed.substr(0, trimmed.size() - 1));
            continue;
        }
        pending.append(line);
        lines.emplace_back(first, std::move(pending));
        pending.clear();
    }
    if (!pending.empty()) lines.emplace_back(first, std::move(pending));
    return lines;
}

// "[path]" makes the key current, "[-path]" removes it; false when malformed.
bool ParseKeyLine(std::string_view line, RegistryNode& tree, RegistryNode*& current) {
    if (line.back() != ']') return false;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool removal = !path.empty() && path.front() == '-';
    if (removal) path.remove_prefix(1);
    if (!IsValidPath(path)) return false;
    if (removal) {
        RemovePath(tree, path);
        current = nullptr;
    } else {
        current = tree.Create(path, nullptr);
    }
    return true;
}

// What follows '=': a quoted string, dword:, hex: or hex(type):.
bool ParseValueData(std::string_view line, RegistryValue& value) {
    if (!line.empty() && line.front() == '"') {
        auto data = ParseQuoted(line);
        if (!data || !Trim(line).empty()) return false;
        value.type = REG_SZ;
        value.data.assign(data->begin(), data->end());
        value.data.push_back(0);
    } else if (line.starts_with("dword:")) {
        const auto number = ParseHexNumber(line.substr(6), 8);
        if (!number) return false;
        value.type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8)
            value.data.push_back(static_cast<BYTE>(*number >> shift));
    } else if (line.starts_with("hex:") || line.starts_with("hex(")) {
        std::size_t colon = 3;
        value.type = REG_BINARY;
        if (line[3] == '(') {
            const std::size_t close = line.find("):");
            if (close == std::string_view::npos) return false;
            const auto type = ParseHexNumber(line.substr(4, close - 4), 8);
            if (!type) return false;
            value.type = *type;
            colon = close + 1;
        }
        auto bytes = ParseHexBytes(line.substr(colon + 1));
        if (!bytes) return false;
        value.data = std::move(*bytes);
    } else {
        return false;
    }
    return true;
}

bool SameName(const std::string& a, const std::string& b) {
    return !CaseInsensitiveLess{}(a, b) && !CaseInsensitiveLess{}(b, a);
}

// @=... or "name"=... sets a value of the current key, "name"=- removes it.
bool ParseValueLine(std::string_view line, RegistryNode& current) {
    std::string name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto quoted = ParseQuoted(line);
        if (!quoted || quoted->empty() || !IsStorableValueName(*quoted)) return false;
        name = std::move(*quoted);
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') return false;
    line = Trim(line.substr(1));
    if (line == "-") {
        std::erase_if(current.values,
                      [&](const RegistryValue& v) { return SameName(v.name, name); });
        return true;
    }
    RegistryValue value;
    value.name = name;
    if (!ParseValueData(line, value)) return false;
    if (RegistryValue* existing = current.Value(name))
        *existing = std::move(value);
    else
        current.values.push_back(std::move(value));
    return true;
}

} // namespace

std::optional<RegistryNode> ParseRegistryText(std::string_view text, RegistryProblem* problem) {
    RegistryNode tree;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    bool seenHeader = false;
    RegistryNode* current = nullptr;
    // Lines under a key line that was not understood belong to no key we
    // know: they are skipped with it.
    bool orphaned = false;
    for (const auto& [number, raw] : LogicalLines(text)) {
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';') continue;
        bool understood = true;
        if (!seenHeader) {
            if (line != "REGEDIT4") {
                if (problem) *problem = {number, std::string(line), 1};
                return std::nullopt;
            }
            seenHeader = true;
        } else if (line.front() == '[') {
            understood = ParseKeyLine(line, tree, current);
            orphaned = !understood;
            if (!understood) current = nullptr;
        } else if (orphaned) {
            continue;
        } else {
            understood = current != nullptr && ParseValueLine(line, *current);
        }
        if (understood) continue;
        if (problem == nullptr) return std::nullopt;
        if (problem->badLines++ == 0) {
            problem->firstBadLine = number;
            problem->firstBadText = std::string(line);
        }
    }
    return tree;
}

std::string WriteRegistryText(const RegistryNode& tree) {
    std::string out = "REGEDIT4\n\n";
    for (const auto& [name, child] : tree.children)
        AppendNode(out, *child, child->name);
    return out;
}

} // namespace platform
