// Fixed global memory.
#include "support.h"

#include <set>

namespace
{

class Memory : public LayerTest
{
};

TEST_F(Memory, FixedBlocks)
{
    DWORD c0 = W32EmuLiveGlobalBlocks();
    auto [p, err] = Probe([] { return GlobalAlloc(GPTR, 100); });
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(err, PROBE);
    for (int i = 0; i < 100; i++)
    {
        EXPECT_EQ(((BYTE *)p)[i], 0) << i;
    }
    EXPECT_EQ(Probe([p = p] { return GlobalSize(p); }), std::make_pair((SIZE_T)100, PROBE));
    EXPECT_EQ(W32EmuLiveGlobalBlocks(), c0 + 1);
    EXPECT_EQ(Probe([p = p] { return GlobalFree(p); }), std::make_pair((HGLOBAL) nullptr, PROBE));
    EXPECT_EQ(W32EmuLiveGlobalBlocks(), c0);
}

TEST_F(Memory, ZeroBytesIsAValidDistinctBlock)
{
    std::set<HGLOBAL> blocks;
    for (int i = 0; i < 4; i++)
    {
        HGLOBAL p = GlobalAlloc(GMEM_FIXED, 0);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(blocks.insert(p).second);
        EXPECT_EQ(GlobalSize(p), 0u);
    }
    for (HGLOBAL p : blocks)
    {
        EXPECT_EQ(GlobalFree(p), nullptr);
    }
}

TEST_F(Memory, UnknownAndFreedBlocksAreRefused)
{
    HGLOBAL p = GlobalAlloc(GMEM_FIXED, 8);
    ASSERT_EQ(GlobalFree(p), nullptr);
    int local = 0;
    // A freed, a foreign and an interior pointer: returned, not freed.
    for (HGLOBAL bad : {p, (HGLOBAL)&local})
    {
        EXPECT_EQ(Probe([&] { return GlobalFree(bad); }), std::make_pair(bad, (DWORD)ERROR_INVALID_HANDLE));
        EXPECT_EQ(Probe([&] { return GlobalSize(bad); }), std::make_pair((SIZE_T)0, (DWORD)ERROR_INVALID_HANDLE));
    }
    HGLOBAL q = GlobalAlloc(GMEM_FIXED, 8);
    HGLOBAL interior = (BYTE *)q + 1;
    EXPECT_EQ(Probe([&] { return GlobalFree(interior); }), std::make_pair(interior, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalFree(q), nullptr);
    EXPECT_EQ(Probe([] { return GlobalFree(nullptr); }), std::make_pair((HGLOBAL) nullptr, PROBE));
}

TEST_F(Memory, RequestsTheLayerRefuses)
{
    EXPECT_EQ(Probe([] { return GlobalAlloc(GMEM_MOVEABLE, 8); }),
              std::make_pair((HGLOBAL) nullptr, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([] { return GlobalAlloc(0x8000, 8); }),
              std::make_pair((HGLOBAL) nullptr, (DWORD)ERROR_INVALID_PARAMETER));
    // More than a 32-bit process could have.
    EXPECT_EQ(Probe([] { return GlobalAlloc(GMEM_FIXED, (SIZE_T)0x80000000u); }),
              std::make_pair((HGLOBAL) nullptr, (DWORD)ERROR_NOT_ENOUGH_MEMORY));
}

} // namespace
