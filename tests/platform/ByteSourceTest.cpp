// The byte source reads a file and a buffer alike and never past the end;
// the owning interface pointer keeps reference counts as hand-written
// AddRef and Release calls would.
#include "platform/ByteSource.h"
#include "support/RastrelTesting.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

const std::vector<BYTE> kBytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};

TEST(ByteSource, FilesAndBuffersReadAlike) {
    ScratchFolder scratch;
    WriteFile(scratch / "bytes", kBytes);
    platform::ByteSource file, buffer(kBytes.data(), kBytes.size());
    ASSERT_TRUE(file.OpenFile((scratch / "bytes").c_str()));
    for (platform::ByteSource* source : {&file, &buffer}) {
        std::uint64_t size = 0;
        std::uint16_t u16 = 0, be16 = 0;
        std::uint32_t u32 = 0;
        ASSERT_TRUE(source->Size(size) && source->U16Le(u16) && source->U32Be(u32));
        EXPECT_EQ(std::tuple(size, u16, u32), std::tuple(6u, 0x3412, 0x56789ABCu));
        EXPECT_FALSE(source->U16Be(be16)); // at the end
        ASSERT_TRUE(source->Seek(3));
        EXPECT_EQ(source->Position(), 3u);
        EXPECT_TRUE(source->U16Be(be16));
        EXPECT_EQ(be16, 0x789A);
        // A short read says how much it read and fills no further.
        BYTE out[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        ASSERT_TRUE(source->SeekFromEnd(2));
        EXPECT_EQ(source->Read(out, sizeof out), 2u);
        EXPECT_EQ(std::pair(out[1], out[2]), std::pair(BYTE{0xBC}, BYTE{0}));
        EXPECT_FALSE(source->SeekFromEnd(7));
        // Past the end: the position holds, reads find nothing.
        EXPECT_TRUE(source->Seek(100) && source->Read(out, 1) == 0);
        EXPECT_TRUE(source->Seek(0) && !source->ReadExact(out, 7));
        std::uint8_t u8 = 0;
        ASSERT_TRUE(source->Seek(5) && source->U8(u8));
        EXPECT_EQ(u8, 0xBC);
        // Reads at an offset stop at the end and leave the position alone.
        ASSERT_TRUE(source->Seek(1));
        EXPECT_EQ(source->ReadAt(4, out, sizeof out), 2u);
        EXPECT_EQ(std::tuple(out[0], source->ReadAt(9, out, 1), source->Position()),
                  std::tuple(0x9A, 0u, 1u));
    }
    EXPECT_FALSE(file.OpenFile((scratch / "missing").c_str()));
}

// The little-endian fields are checked by every file format; the 64-bit
// ones only ever hold small values there.
TEST(ByteSource, StoresAndLoadsOfBothOrders) {
    BYTE bytes[8] = {};
    platform::StoreU64Le(bytes, 0x1122334455667788ull);
    EXPECT_EQ(std::tuple(platform::LoadU64Le(bytes), bytes[0]),
              std::tuple(0x1122334455667788ull, 0x88));
    platform::StoreU32Be(bytes, 0x01020304);
    platform::StoreU16Be(bytes + 4, 0x0506);
    EXPECT_EQ(std::tuple(platform::LoadU32Le(bytes), platform::LoadU16Le(bytes + 4)),
              std::tuple(0x04030201u, 0x0605));
}

// An object that counts its references.
struct Counted final : IUnknown {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    ULONG references = 1;
};

TEST(ComPtr, HoldsOneReferenceAndGivesItBack) {
    Counted a, b;
    {
        ComPtr<IUnknown> held(&a);
        ComPtr<IUnknown> copy = held;
        EXPECT_EQ(a.references, 2u);
        ComPtr<IUnknown> moved = std::move(copy);
        EXPECT_EQ(std::pair(bool(copy), a.references), std::pair(false, 2u));
        IUnknown** out = &moved; // an out parameter releases what was held
        EXPECT_EQ(a.references, 1u);
        *out = &b;
        b.AddRef();
        EXPECT_EQ(moved.get(), &b);
        held.Attach(moved.Detach());
        EXPECT_EQ(std::pair(a.references, b.references), std::pair(0u, 2u));
    }
    EXPECT_EQ(b.references, 1u);
}

} // namespace
