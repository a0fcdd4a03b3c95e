#include "platform/Types.h"

#include <cstdio>
#include <cstring>

void GuidToText(REFGUID guid, char* text) {
    std::snprintf(text, kGuidTextLength + 1, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

bool GuidFromText(const char* text, GUID* guid) {
    if (text == nullptr || guid == nullptr || std::strlen(text) != kGuidTextLength) return false;
    static constexpr char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    unsigned char nibbles[32];
    int count = 0;
    for (int i = 0; i < kGuidTextLength; ++i) {
        const char c = text[i];
        if (kShape[i] != 'X') {
            if (c != kShape[i]) return false;
            continue;
        }
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            return false;
        nibbles[count++] = static_cast<unsigned char>(value);
    }
    auto take = [&](int from, int digits) {
        std::uint32_t value = 0;
        for (int i = 0; i < digits; ++i)
            value = (value << 4) | nibbles[from + i];
        return value;
    };
    guid->Data1 = take(0, 8);
    guid->Data2 = static_cast<std::uint16_t>(take(8, 4));
    guid->Data3 = static_cast<std::uint16_t>(take(12, 4));
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = static_cast<std::uint8_t>(take(16 + 2 * i, 2));
    return true;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity) {
    if (text == nullptr || capacity < kGuidTextLength + 1) return 0;
    char narrow[kGuidTextLength + 1];
    GuidToText(guid, narrow);
    for (int i = 0; i <= kGuidTextLength; ++i)
        text[i] = static_cast<OLECHAR>(narrow[i]);
    return kGuidTextLength + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
    char narrow[kGuidTextLength + 1];
    int i = 0;
    for (; i <= kGuidTextLength && text[i] != 0; ++i) {
        if (text[i] > 0x7F) return MakeHresult(0x800401F3); // CO_E_CLASSSTRING
        narrow[i] = static_cast<char>(text[i]);
    }
    if (i > kGuidTextLength) return MakeHresult(0x800401F3);
    narrow[i] = '\0';
    return GuidFromText(narrow, clsid) ? S_OK : MakeHresult(0x800401F3);
}
