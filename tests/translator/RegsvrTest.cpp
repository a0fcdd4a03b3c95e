// regsvr as a person runs it. Two at once are two writers of the registry,
// checked with the registry itself.
#include "support/RastrelTesting.h"

using namespace rastrel::testing;

namespace {

std::string Regsvr(const std::string& registry, const std::string& arguments) {
    return "RASTREL_REGISTRY=" + Quote(registry) + " " + Quote(REGSVR) + " " + arguments;
}

TEST(Regsvr, RegistersAndUnregistersBothLibraries) {
    ScratchFolder scratch;
    const std::string registry = scratch / "reg.reg";
    // What the entry points write is checked where they are tested; here
    // the tool's messages and exit codes.
    auto registered = RunShell(Regsvr(registry, Quote(RASTREL_LIBRARY)));
    EXPECT_EQ(registered.status, 0) << registered.out;
    EXPECT_NE(registered.out.find("DllRegisterServer"), std::string::npos);
    const auto silent = RunShell(Regsvr(registry, "-s " + Quote(THUMBNAIL_LIBRARY)));
    EXPECT_EQ(std::pair(silent.status, silent.out), std::pair(0, std::string()));
    EXPECT_EQ(RunShell(Regsvr(registry, "-u " + Quote(RASTREL_LIBRARY))).status, 0);
    EXPECT_EQ(RunShell(Regsvr(registry, "-u " + Quote(THUMBNAIL_LIBRARY))).status, 0);
    EXPECT_EQ(ReadBytes(registry).find("InprocServer32"), std::string::npos) << ReadBytes(registry);

    EXPECT_EQ(RunShell(Regsvr(registry, "")).status, 1);
    EXPECT_EQ(RunShell(Regsvr(registry, Quote(scratch / "missing.so"))).status, 3);
    // Loads, but is no component server.
    EXPECT_EQ(RunShell(Regsvr(registry, "/lib/x86_64-linux-gnu/libz.so.1")).status, 4);
    // Unregistering what is not registered fails with the registry's code.
    const auto again = RunShell(Regsvr(registry, "-u " + Quote(RASTREL_LIBRARY)));
    EXPECT_EQ(again.status, 5);
    EXPECT_NE(again.out.find("0x80070002"), std::string::npos) << again.out;
}

// One line it cannot read does not hide the keys around it, and a file it
// cannot read whole is reported and never rewritten.
TEST(Regsvr, AnUnreadableRegistryIsNamedAndLeftAlone) {
    ScratchFolder scratch;
    const std::string registry = scratch / "reg.reg";
    ASSERT_EQ(RunShell(Regsvr(registry, "-s " + Quote(RASTREL_LIBRARY))).status, 0);
    std::string text = ReadBytes(registry);
    text.insert(text.find("\n[") + 1, "a line that means nothing\n");
    WriteBytes(registry, text);
    // The tool still finds its classes, with a warning naming the line.
    const auto formats =
        RunShell("RASTREL_REGISTRY=" + Quote(registry) + " " + RASTREL_TOOL + " formats");
    EXPECT_EQ(formats.status, 0) << formats.out;
    EXPECT_NE(formats.out.find(registry + ": line 3 is not a registry line: a line that means"),
              std::string::npos)
        << formats.out;
    // Registering would drop that line: refused, the file as it was.
    const auto refused = RunShell(Regsvr(registry, Quote(THUMBNAIL_LIBRARY)));
    EXPECT_EQ(refused.status, 5);
    EXPECT_NE(refused.out.find("line 3"), std::string::npos) << refused.out;
    EXPECT_EQ(ReadBytes(registry), text);
    // Without its first line nothing is read: the tool says so, not only
    // that the classes are not registered.
    WriteBytes(registry, "REGEDIT5\n" + text.substr(text.find('\n') + 1));
    const auto unread =
        RunShell("RASTREL_REGISTRY=" + Quote(registry) + " " + RASTREL_TOOL + " formats");
    EXPECT_EQ(unread.status, 3);
    EXPECT_NE(unread.out.find("line 1 is not a REGEDIT4 header"), std::string::npos) << unread.out;
}

} // namespace
