#pragma once
// Loading and saving through the translator manager as a client does, the
// fixtures made by other programs, and pictures as independent programs
// (Pillow, ImageMagick) decode them.
#include "support/RastrelTesting.h"

#include <ostream>
#include <sstream>

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

// A binary PPM; ImageMagick writes a Targa file's identification into it
// as a comment.
inline RgbPicture ReadPpm(const std::string& path) {
    std::istringstream in(ReadBytes(path));
    std::vector<std::string> fields; // P6, width, height, maximum
    for (std::string token; fields.size() < 4 && in >> token;)
        if (token[0] == '#')
            std::getline(in, token);
        else
            fields.push_back(token);
    if (fields.size() < 4 || fields[0] != "P6" || fields[3] != "255") return {};
    RgbPicture picture{std::stoi(fields[1]), std::stoi(fields[2]), {}};
    in.get();
    picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    in.read(reinterpret_cast<char*>(picture.rgb.data()), std::streamsize(picture.rgb.size()));
    return in ? picture : RgbPicture{};
}

// A binary PBM (set bits black) as black and white pixels.
inline RgbPicture ReadPbm(const std::string& path) {
    std::istringstream in(ReadBytes(path));
    std::vector<std::string> fields; // P4, width, height
    for (std::string token; fields.size() < 3 && in >> token;)
        if (token[0] == '#')
            std::getline(in, token);
        else
            fields.push_back(token);
    if (fields.size() < 3 || fields[0] != "P4") return {};
    RgbPicture picture{std::stoi(fields[1]), std::stoi(fields[2]), {}};
    in.get();
    const std::size_t rowBytes = (static_cast<std::size_t>(picture.width) + 7) / 8;
    std::string row(rowBytes, '\0');
    for (int y = 0; y < picture.height && in.read(row.data(), std::streamsize(rowBytes)); ++y)
        for (int x = 0; x < picture.width; ++x) {
            const BYTE level = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            picture.rgb.insert(picture.rgb.end(), {level, level, level});
        }
    return picture;
}

// The pixels beside a fixture: NAME.ppm, or NAME.pbm for black and white.
inline RgbPicture ReferencePicture(const std::string& fixture) {
    return std::filesystem::exists(fixture + ".pbm") ? ReadPbm(fixture + ".pbm")
                                                     : ReadPpm(fixture + ".ppm");
}

// Pixel x of row y (top first) of a 0x400 image: blue, green, red.
inline BYTE* PixelAt(const BitmapImage& image, int x, int y) {
    const LONG width = image.header->biWidth, height = image.header->biHeight;
    return image.pixels + (height - 1 - y) * ((width * 3 + 3) / 4 * 4) + 3 * x;
}

// A 0x400 bitmap's pixels as seen.
inline RgbPicture PictureOf(IBitmapImage* bitmap) {
    const BitmapImage image = ImageOf(bitmap);
    RgbPicture picture{image.header->biWidth, image.header->biHeight, {}};
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const BYTE* p = PixelAt(image, x, y);
            picture.rgb.insert(picture.rgb.end(), {p[2], p[1], p[0]});
        }
    return picture;
}

// A 0x400 bitmap holding the picture.
inline ComPtr<IBitmapImage> BitmapOf(const RgbPicture& picture) {
    auto bitmap = NewBitmap(picture.width, picture.height, 0x400);
    const BitmapImage image = ImageOf(bitmap.get());
    const BYTE* p = picture.rgb.data();
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x, p += 3)
            std::reverse_copy(p, p + 3, PixelAt(image, x, y));
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

// The pixels Pillow and ImageMagick decode from a file we wrote.
inline std::pair<RgbPicture, RgbPicture> DecodedElsewhere(const std::string& path,
                                                          const std::string& ppm) {
    const CommandResult pillow =
        RunPython("import sys; from PIL import Image; "
                  "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                  Quote(path) + " " + Quote(ppm));
    const RgbPicture byPillow = ReadPpm(ppm);
    const CommandResult magick =
        RunProgram("/usr/bin/convert", Quote(path) + " -auto-orient -depth 8 ppm:" + Quote(ppm));
    EXPECT_EQ(pillow.status + magick.status, 0) << pillow.err << magick.err;
    return {byPillow, ReadPpm(ppm)};
}

// The files other programs made, each beside the pixels an independent
// decoder gives.
inline std::vector<std::string> Fixtures() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kFixtures))
        if (const auto ext = entry.path().extension();
            ext == ".tga" || ext == ".bmp" || ext == ".png" || ext == ".pcx" || ext == ".tif")
            names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace rastrel::testing
