// Saves that do not finish leave the output name as it was: every writer
// (Targa, BMP, PCX, TIFF, the compound-file store) over an existing file and a
// symbolic link, failing early, late, or in the thumbnail writer; and the
// tool killed while it writes. (A device written in place: the tool's test
// of a full disk.)
#include "support/RastrelFormats.h"

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace rastrel::testing;
namespace fs = std::filesystem;

namespace {

using SafeSave = ScratchTest;

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A save through one of the writers; cancelAt < 0 runs to the end.
using Saver = std::function<HRESULT(const std::string& path, long cancelAt)>;

TEST_F(SafeSave, UnfinishedSavesKeepWhatWasThere) {
    const auto picture = BitmapOf(ReadPpm(kFixtures + "/pil-rgb24.bmp.ppm")); // 23 rows
    RgbPicture frame{720, 486, std::vector<BYTE>(720 * 486 * 3, 90)};
    const auto frameBitmap = BitmapOf(frame);
    auto translate = [&](const char* extension) -> Saver {
        return [&, extension](const std::string& path, long cancelAt) {
            CountingSink sink(cancelAt);
            return TranslatorFor(extension)->Save(path.c_str(), picture.get(), &sink);
        };
    };
    // The store cannot be cancelled; it fails after its storage was made
    // when the thumbnail writer is missing.
    const Saver store = [&](const std::string& path, long cancelAt) {
        const bool fail = cancelAt >= 0;
        if (fail) CallEntry(THUMBNAIL_LIBRARY, "DllUnregisterServer");
        const HRESULT hr = frameBitmap->SaveToStorage(path.c_str());
        if (fail) CallEntry(THUMBNAIL_LIBRARY, "DllRegisterServer");
        return hr;
    };
    const std::tuple<const char*, Saver, HRESULT> writers[] = {
        {"TGA", translate("TGA"), E_ABORT}, {"BMP", translate("BMP"), E_ABORT},
        {"PNG", translate("PNG"), E_ABORT}, {"PCX", translate("PCX"), E_ABORT},
        {"TIF", translate("TIF"), E_ABORT}, {"store", store, REGDB_E_CLASSNOTREG}};
    const std::string before = "what the user had";
    for (const auto& [name, save, failure] : writers) {
        SCOPED_TRACE(name);
        const fs::path folder = scratch / name;
        fs::create_directories(folder / "elsewhere");
        const std::string file = folder / "old", target = folder / "elsewhere/target",
                          link = folder / "link";
        fs::create_symlink(target, link);
        for (const long cancelAt : {1L, 23L}) {
            SCOPED_TRACE(cancelAt);
            WriteBytes(file, before);
            WriteBytes(target, before);
            const auto listed = Listing(folder);
            for (const std::string& path : {file, link}) {
                EXPECT_EQ(save(path, cancelAt), failure) << path;
                EXPECT_EQ(ReadBytes(path), before) << path;
            }
            EXPECT_TRUE(fs::is_symlink(link));
            EXPECT_EQ(Listing(folder), listed); // no temporary left behind
            EXPECT_EQ(Listing(folder / "elsewhere"), std::vector<std::string>{"target"});
        }
        // Finished, a save through the link replaces the file it names.
        ASSERT_EQ(save(link, -1), S_OK);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_NE(ReadBytes(target), before);
        EXPECT_EQ(Listing(folder / "elsewhere"), std::vector<std::string>{"target"});
    }
}

TEST_F(SafeSave, KilledToolLeavesTheOldFileOrTheWholeNewOne) {
    // Big enough that a kill lands while rows are written.
    RgbPicture big{2000, 1500, Random(2000 * 1500 * 3, 5)};
    const std::string in = scratch / "big.bmp", out = scratch / "old.tga";
    ASSERT_EQ(TranslatorFor("BMP")->Save(in.c_str(), BitmapOf(big).get(), nullptr), S_OK);
    const std::string before = "an older picture";
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGTERM})
        for (const int delayMs : {5, 40, 120}) {
            WriteBytes(out, before);
            const pid_t child = ::fork();
            if (child == 0) {
                ::execl(RASTREL_TOOL, RASTREL_TOOL, "convert", in.c_str(), out.c_str(), nullptr);
                ::_exit(127);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ::kill(child, signal);
            int status = 0;
            ::waitpid(child, &status, 0);
            const std::string now = ReadBytes(out);
            if (now != before) {
                auto loaded = Load(out);
                ASSERT_TRUE(loaded) << "partial file after signal " << signal;
                EXPECT_EQ(PictureOf(loaded.get()), big);
            } else {
                EXPECT_NE(status, 0);
            }
            EXPECT_EQ(Listing(scratch.path()), (std::vector<std::string>{"big.bmp", "old.tga"}));
        }
}

} // namespace
