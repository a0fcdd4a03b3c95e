#pragma once
// Loading and saving through the translator manager as a client does, the
// fixtures made by other programs, and pictures as independent programs
// (Pillow, ImageMagick) decode them.
#include "support/RastrelTesting.h"

#include <ostream>

namespace rastrel::testing {

inline const std::string kFixtures = MERKANIX_SOURCE_DIR "/tests/data/rastrel";

// Rows top first, three bytes a pixel in red, green, blue order.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<BYTE> rgb;
    bool operator==(const RgbPicture&) const = default;
};
inline void PrintTo(const RgbPicture& picture, std::ostream* out) {
    *out << picture.width << "x" << picture.height << " (" << picture.rgb.size() << " bytes:";
    for (std::size_t i = 0; i < picture.rgb.size() && i < 12; ++i)
        *out << " " << int(picture.rgb[i]);
    *out << " ...)";
}

inline RgbPicture ReadPpm(const std::string& path) {
    RgbPicture picture;
    const std::vector<BYTE> bytes = ReadFile(path);
    std::size_t at = 0;
    auto token = [&] {
        std::string text;
        while (at < bytes.size()) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
            else if (std::isspace(bytes[at]))
                ++at;
            else
                break;
        }
        while (at < bytes.size() && !std::isspace(bytes[at]))
            text += static_cast<char>(bytes[at++]);
        return text;
    };
    if (token() != "P6") return picture;
    picture.width = std::stoi(token());
    picture.height = std::stoi(token());
    token();
    ++at;
    const std::size_t size = static_cast<std::size_t>(picture.width) * picture.height * 3;
    if (at + size <= bytes.size())
        picture.rgb.assign(bytes.begin() + at, bytes.begin() + at + size);
    return picture;
}

// A 0x400 bitmap's pixels as seen.
inline RgbPicture PictureOf(IBitmapImage* bitmap) {
    const BitmapImage image = ImageOf(bitmap);
    RgbPicture picture;
    picture.width = image.header->biWidth;
    picture.height = image.header->biHeight;
    const std::size_t rowBytes = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    for (int y = picture.height - 1; y >= 0; --y) {
        const BYTE* row = image.pixels + y * rowBytes;
        for (int x = 0; x < picture.width; ++x) {
            picture.rgb.push_back(row[3 * x + 2]);
            picture.rgb.push_back(row[3 * x + 1]);
            picture.rgb.push_back(row[3 * x]);
        }
    }
    return picture;
}

// A 0x400 bitmap holding the picture.
inline ComPtr<IBitmapImage> BitmapOf(const RgbPicture& picture) {
    auto bitmap = NewBitmap(picture.width, picture.height, 0x400);
    const BitmapImage image = ImageOf(bitmap.get());
    const std::size_t rowBytes = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    for (int y = 0; y < picture.height; ++y) {
        BYTE* row = image.pixels + (picture.height - 1 - y) * rowBytes;
        for (int x = 0; x < picture.width; ++x) {
            const BYTE* p = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
            row[3 * x] = p[2];
            row[3 * x + 1] = p[1];
            row[3 * x + 2] = p[0];
        }
    }
    return bitmap;
}

inline ComPtr<ITranslatorManager> NewManager() {
    return Make<ITranslatorManager>(CLSID_TranslatorManager, IID_ITranslatorManager);
}

inline ComPtr<IBitmapImage> Load(const std::string& path, DWORD format = 0x400,
                                 HRESULT expected = S_OK) {
    ComPtr<IBitmapImage> bitmap;
    EXPECT_EQ(NewManager()->Load(path.c_str(), format, &bitmap, nullptr, nullptr), expected)
        << path;
    return bitmap;
}

inline ComPtr<ITranslator> TranslatorFor(const char* extension) {
    ComPtr<ITranslator> translator;
    EXPECT_EQ(NewManager()->TranslatorForExtension(extension, &translator), S_OK);
    return translator;
}

inline bool HavePillowAndImageMagick() {
    return RunProgram("/usr/bin/python3", "-c 'import PIL'").status == 0 &&
           RunProgram("/usr/bin/convert", "-version").status == 0;
}

// The pixels another program decodes from a file we wrote.
inline RgbPicture DecodeWithPillow(const std::string& path, const std::string& ppm) {
    const CommandResult result =
        RunPython("import sys; from PIL import Image; "
                  "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                  Quote(path) + " " + Quote(ppm));
    EXPECT_EQ(result.status, 0) << result.err;
    return ReadPpm(ppm);
}
inline RgbPicture DecodeWithImageMagick(const std::string& path, const std::string& ppm) {
    const CommandResult result =
        RunProgram("/usr/bin/convert", Quote(path) + " -auto-orient -depth 8 ppm:" + Quote(ppm));
    EXPECT_EQ(result.status, 0) << result.err;
    return ReadPpm(ppm);
}

inline std::vector<std::string> FixturesEndingIn(const std::string& suffix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace rastrel::testing
