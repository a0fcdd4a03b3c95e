#include "measurement/Settings.h"

#include "common/Errors.h"
#include "common/FileIO.h"
#include "common/NumberText.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace merkanix {

SystemTexts DefaultCameraTexts(char decimalSeparator) {
    const SystemTexts comma = {
        CameraTexts{"23", "327,5", "245,5", "-46,0193228167378", "26,6757209288414"},
        CameraTexts{"23", "327,5", "245,5", "43,1025239130338", "24,756501341982"},
        CameraTexts{"23", "327,5", "245,5", "-0,180449213282532", "-51,5406248013469"},
    };
    SystemTexts out;
    for (int i = 0; i < 3; ++i) {
        out[i].f = WithDecimalSeparator(comma[i].f, decimalSeparator);
        out[i].xc = WithDecimalSeparator(comma[i].xc, decimalSeparator);
        out[i].yc = WithDecimalSeparator(comma[i].yc, decimalSeparator);
        out[i].x = WithDecimalSeparator(comma[i].x, decimalSeparator);
        out[i].y = WithDecimalSeparator(comma[i].y, decimalSeparator);
    }
    return out;
}

void WriteSettingsFile(const std::string& path, const SystemTexts& texts) {
    std::string content;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) content += " \r\n";
        for (const std::string* t :
             {&texts[i].f, &texts[i].xc, &texts[i].yc, &texts[i].x, &texts[i].y}) {
            content += *t;
            content += "\r\n";
        }
    }

    // Flushed before the rename: the settings already there must survive a
    // crash as surely as the new ones.
    ReplaceFileContents(path, content,
                        {.syncBeforeRename = true, .renameFailure = "Cannot write file"});
}

SystemTexts ReadSettingsFile(const std::string& path) {
    const FileDescriptor file = OpenForReading(path);
    std::string content;
    char buffer[4096];
    // A settings file is 17 short lines; anything huge is not one.
    constexpr std::size_t kEnough = 1 << 20;
    while (content.size() < kEnough) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot read file", path, errno);
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }

    // Lines end at CR LF, LF or CR; reading past the end gives empty lines.
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size() && lines.size() < 17) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) end = content.size();
        lines.push_back(content.substr(start, end - start));
        if (end == content.size()) break;
        start = end + 1;
        if (content[end] == '\r' && start < content.size() && content[start] == '\n') ++start;
    }
    lines.resize(17);

    SystemTexts texts;
    for (int i = 0; i < 3; ++i) {
        const std::size_t base = static_cast<std::size_t>(i) * 6;
        texts[i] = {lines[base], lines[base + 1], lines[base + 2], lines[base + 3],
                    lines[base + 4]};
    }
    return texts;
}

} // namespace merkanix
