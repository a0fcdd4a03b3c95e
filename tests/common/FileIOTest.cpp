#include "common/FileIO.h"

#include "common/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::ReadBytes;
using merkanix::testing::ScratchFolder;

namespace {
std::string ErrorOf(const std::string& path, const ReplaceOptions& options) {
    return merkanix::testing::MessageOf<InOutError>(
        [&] { ReplaceFileContents(path, "new", options); });
}
} // namespace

TEST(ReplaceFileContents, TheFileIsReplacedWholeAndNothingIsLeftBeside) {
    ScratchFolder folder;
    const std::string path = folder / "file";
    for (const bool sync : {false, true}) {
        ReplaceFileContents(path, "a longer first content", {});
        ReplaceFileContents(path, std::string("sh\0rt", 5), {.syncBeforeRename = sync});
        EXPECT_EQ(ReadBytes(path), std::string("sh\0rt", 5));
        EXPECT_EQ(folder.Entries(), 1u);
    }
}

TEST(ReplaceFileContents, FailuresNameTheFileAndLeaveNoTemporary) {
    ScratchFolder folder;
    const std::string missing = folder / "no/such/file";
    EXPECT_EQ(ErrorOf(missing, {}).rfind("Cannot create file \"" + missing + "\". ", 0), 0u);
    // A folder in the way: the temporary is written, the rename fails.
    const std::string busy = folder / "busy";
    std::filesystem::create_directory(busy);
    EXPECT_EQ(ErrorOf(busy, {}).rfind("Cannot create file \"" + busy + "\". ", 0), 0u);
    EXPECT_EQ(ErrorOf(busy, {.renameFailure = "Cannot write file"})
                  .rfind("Cannot write file \"" + busy + "\". ", 0),
              0u);
    EXPECT_EQ(folder.Entries(), 1u);
    EXPECT_THROW(OpenForReading(folder / "missing"), InOutError);
}
