// The rastrel command-line client, run as a user runs it against the test's
// private registry.
#include "support/RastrelFormats.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

using RastrelTool = ScratchTest;

CommandResult Rastrel(const std::string& arguments) {
    return RunShell(std::string(RASTREL_TOOL) + " " + arguments);
}

TEST_F(RastrelTool, ListsFormatsAndDescribesFiles) {
    CommandResult result = Rastrel("formats");
    EXPECT_EQ(
        std::pair(result.status, result.out),
        std::pair(0, std::string("BMP  Windows Bitmap\nJPG  JPEG\nPCX  ZSoft PCX\nTIF  Aldus TIFF\n"
                                 "PNG  Portable Network Graphic Format\n"
                                 "TGA  Truevision Targa\n")));
    result = Rastrel("info " + Quote(kFixtures + "/pil-palette8.tga") + " --format 4000");
    EXPECT_EQ(std::pair(result.status, result.out),
              std::pair(0, std::string("translator TGA\nwidth 37\nheight 23\nformat 0x4000\n")));
    // PCX and TIFF files show their header records too.
    for (const auto& [name, fields] :
         {std::pair{"netpbm-planes4.pcx", "planes 4\nbytes per line 5\npalette information 1\n"},
          std::pair{"tiffcp-page-g4-strips.tif", "compression 4\nsamples per pixel 1\n"
                                                 "photometric 1\nplanar configuration 1\n"
                                                 "predictor 1\nfill order 1\nstrips 4\n"}}) {
        result = Rastrel("info " + Quote(kFixtures + "/" + name));
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find(fields), std::string::npos) << result.out;
    }
    // .tiff is TIFF; a TIFF and a PCX file hold the picture.
    const std::string in = kFixtures + "/pil-rgb24.tga";
    for (const char* out : {"out.tiff", "out.PCX"}) {
        result = Rastrel("convert " + Quote(in) + " " + Quote(scratch / out));
        ASSERT_EQ(result.status, 0) << result.err;
        auto back = Load(scratch / out);
        ASSERT_TRUE(back);
        EXPECT_EQ(PictureOf(back.get()), ReadPpm(in + ".ppm")) << out;
    }
}

TEST_F(RastrelTool, EveryFixtureTurnsIntoTheOtherFormatAndBack) {
    for (const std::string& name : Fixtures()) {
        // Each format through another one and back: Targa through PNG, PNG
        // through a bitmap file, a bitmap file through Targa.
        const bool targa = name.ends_with(".tga"), png = name.ends_with(".png");
        const std::string in = kFixtures + "/" + name,
                          there = scratch / (targa ? "there.PNG"
                                             : png ? "there.BMP"
                                                   : "there.Tga"),
                          back = scratch / ("back" + name.substr(name.size() - 4));
        CommandResult result = Rastrel("convert " + Quote(in) + " " + Quote(there));
        ASSERT_EQ(result.status, 0) << name << ": " << result.out;
        result = Rastrel("convert " + Quote(there) + " " + Quote(back) + (targa ? " --rle" : ""));
        ASSERT_EQ(result.status, 0) << name << ": " << result.out;
        auto original = Load(in), again = Load(back);
        ASSERT_TRUE(original && again);
        EXPECT_EQ(PictureOf(again.get()), PictureOf(original.get())) << name;
    }
}

// A JPEG file into each lossless format keeps its decoded pixels; any of
// them into a JPEG file is close to them.
TEST_F(RastrelTool, JpegFilesTurnIntoTheOtherFormatsAndBack) {
    const std::string in = kFixtures + "/cjpeg-q85-1x2.jpg";
    auto original = Load(in);
    ASSERT_TRUE(original);
    for (const char* extension : {"png", "bmp", "tga"}) {
        const std::string there = scratch / (std::string("there.") + extension),
                          back = scratch / (std::string("back-") + extension + ".jpg");
        ASSERT_EQ(Rastrel("convert " + Quote(in) + " " + Quote(there)).status, 0) << extension;
        ASSERT_EQ(Rastrel("convert " + Quote(there) + " " + Quote(back) + " --quality 95").status,
                  0)
            << extension;
        auto lossless = Load(there), again = Load(back);
        ASSERT_TRUE(lossless && again);
        EXPECT_EQ(PictureOf(lossless.get()), PictureOf(original.get())) << extension;
        const RgbPicture a = PictureOf(again.get()), b = PictureOf(original.get());
        double squares = 0;
        for (std::size_t i = 0; i < a.rgb.size(); ++i)
            squares += (a.rgb[i] - b.rgb[i]) * (a.rgb[i] - b.rgb[i]);
        EXPECT_LT(squares / double(a.rgb.size()), 20.0) << extension; // above 35 dB
    }
}

TEST_F(RastrelTool, FailuresNameTheirCause) {
    const std::string tga = Quote(kFixtures + "/pil-rgb24.tga");
    // A command, its exit status and what its message says.
    // A name for the device that is always full.
    std::filesystem::create_symlink("/dev/full", scratch / "full.bmp");
    const std::tuple<std::string, int, std::string> cases[] = {
        {"convert " + Quote(scratch / "missing.tga") + " " + Quote(scratch / "out.bmp"), 1,
         "missing.tga: No such file or directory (0x80004005"},
        {"convert " + tga + " " + Quote(scratch / "none/out.bmp"), 1,
         "none/out.bmp: No such file or directory (0x80004005"},
        {"convert " + tga + " " + Quote(scratch / "full.bmp"), 1,
         "full.bmp: No space left on device (0x80004005"},
        {"store " + Quote(kFixtures + "/pil-rgb24.bmp") + " " + Quote(scratch / "none/x.stg"), 1,
         ""},
        {"help", 0, "usage: rastrel formats"},
        {"--help", 0, "rastrel info FILE"},
        {"convert " + tga + " " + Quote(scratch / "out.xyz"), 1, "no translator writes .XYZ files"},
        {"convert " + tga, 2, ""},
        {"convert " + tga + " x.tga --format 3", 2, ""},
        {"frobnicate", 2, ""},
        {"store " + tga + " " + Quote(scratch / "out.stg"), 1, "720 x 486"}};
    for (const auto& [command, status, says] : cases) {
        const CommandResult result = Rastrel(command);
        EXPECT_EQ(result.status, status) << command;
        EXPECT_NE(result.out.find(says), std::string::npos) << command << ": " << result.out;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / "out.xyz"));
    // The failed write to the device left it where it was.
    EXPECT_TRUE(std::filesystem::is_character_file(scratch / "full.bmp"));
    // A damaged PNG file is our failure to report: libpng says nothing.
    const std::vector<BYTE> png = ReadFile(kFixtures + "/pil-rgb8.png");
    WriteFile(scratch / "cut.png", {png.begin(), png.begin() + 60});
    const CommandResult cut =
        Rastrel("convert " + Quote(scratch / "cut.png") + " " + Quote(scratch / "out.bmp"));
    EXPECT_EQ(std::pair(cut.status, cut.out.find("libpng")), std::pair(1, std::string::npos))
        << cut.out;
    // Without the classes registered the tool says how to register them.
    const CommandResult result = RunShell("RASTREL_REGISTRY=" + Quote(scratch / "empty.reg") + " " +
                                          RASTREL_TOOL + " formats");
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.out.find("regsvr " RASTREL_LIBRARY), std::string::npos) << result.out;
}

TEST_F(RastrelTool, StoresFramesInCompoundFilesAndBack) {
    RgbPicture frame{720, 486, {}};
    for (int i = 0; i < 720 * 486; ++i) {
        const auto level = static_cast<BYTE>((i % 720 + i / 720) / 5);
        frame.rgb.insert(frame.rgb.end(), {level, 128, level});
    }
    ASSERT_EQ(
        TranslatorFor("BMP")->Save((scratch / "frame.bmp").c_str(), BitmapOf(frame).get(), nullptr),
        S_OK);
    for (const std::string format : {"400", "800"}) {
        const std::string stored = scratch / ("frame" + format + ".stg");
        CommandResult result = Rastrel("store " + Quote(scratch / "frame.bmp") + " " +
                                       Quote(stored) + " --format " + format);
        ASSERT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(OlefileDump(stored).out.find("NTSCALPHA ") != std::string::npos, format == "800");
        const std::string back = scratch / "back.tga";
        result = Rastrel("unstore " + Quote(stored) + " " + Quote(back));
        ASSERT_EQ(result.status, 0) << result.out;
        auto again = Load(back);
        ASSERT_TRUE(again);
        // Through the video form's chroma: close, not equal.
        const RgbPicture seen = PictureOf(again.get());
        int worst = 0;
        for (std::size_t i = 0; i < seen.rgb.size(); ++i)
            worst = std::max(worst, std::abs(int(seen.rgb[i]) - int(frame.rgb[i])));
        EXPECT_LE(worst, 6);
    }
}

} // namespace
