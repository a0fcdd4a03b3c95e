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

} // namespace
