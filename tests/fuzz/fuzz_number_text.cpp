// Number and name texts: either a value or the conversion error, and what
// the general form writes must read back.
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace merkanix;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (char separator : {',', '.'}) {
        try {
            const double value = ParseReal(text, separator);
            if (!std::isfinite(value)) __builtin_trap();
            const double again = ParseReal(FormatGeneral(value, separator), separator);
            if (std::fabs(again - value) > std::fabs(value) * 1e-14) __builtin_trap();
            if (ParseReal(FormatRoundTrip(value), '.') != value) __builtin_trap();
            (void)FormatFixed(value, 4, separator);
        } catch (const ConversionError&) {
        }
    }
    try {
        (void)ParseInteger(text);
    } catch (const ConversionError&) {
    }
    try {
        const TDateTime t = FrameTimeStamp(text);
        (void)TimeText(t);
    } catch (const ConversionError&) {
    }
    return 0;
}
