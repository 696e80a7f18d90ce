// Pool accounting per tag, the fill pattern and the checks on frees.
#include "scripted_driver.h"

#include <algorithm>

namespace {

using namespace kt;
using winsim::kernel::Check;
using winsim::kernel::makeTag;

constexpr ULONG tagA = makeTag("Ddk ");
constexpr ULONG tagB = makeTag("MLEQ");

using PoolTest = KernelTest;

TEST_F(PoolTest, AccountsLiveBlocksAndBytesPerTag) {
    auto& pool = kernel.pool();
    const auto before = pool.totalAllocations();
    void* a1 = ExAllocatePoolWithTag(PagedPool, 10, tagA);
    void* a2 = ExAllocatePoolWithTag(PagedPool, 20, tagA);
    void* b1 = ExAllocatePoolWithTag(NonPagedPool, 30, tagB);
    EXPECT_EQ(pool.outstanding(tagA), 2u);
    EXPECT_EQ(pool.outstandingBytes(tagA), 30u);
    EXPECT_EQ(pool.outstanding(tagB), 1u);
    EXPECT_EQ(pool.totalAllocations(), before + 3);
    EXPECT_NE(pool.leakReport().find("'Ddk ': 2 blocks, 30 bytes"), std::string::npos)
        << pool.leakReport();

    ExFreePoolWithTag(a1, tagA);
    ExFreePool(b1);
    EXPECT_EQ(pool.outstanding(tagA), 1u);
    EXPECT_EQ(pool.outstandingBytes(tagA), 20u);
    EXPECT_EQ(pool.outstanding(tagB), 0u);
    ExFreePool(a2);
    EXPECT_EQ(pool.outstandingBlocks(), 0u);
    EXPECT_TRUE(pool.leakReport().empty());
}

TEST_F(PoolTest, NewBlocksCarryAPatternNotZeros) {
    auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(PagedPool, 64, tagA));
    EXPECT_TRUE(std::all_of(block, block + 64,
                            [](unsigned char c) { return c == winsim::kernel::poolFillByte; }));
    ExFreePool(block);
}

TEST_F(PoolTest, ExAllocatePoolUsesTheNoneTag) {
    void* block = ExAllocatePool(PagedPool, 8);
    EXPECT_EQ(kernel.pool().outstanding(winsim::kernel::tagNone), 1u);
    ExFreePool(block);
}

struct BadFree {
    const char* name;
    Check expected;
    void (*run)();
};

class BadFreeTest : public KernelTest, public ::testing::WithParamInterface<BadFree> {};

TEST_P(BadFreeTest, IsRecordedAndFreesNothingElse) {
    expectViolations = true;
    void* keep = ExAllocatePoolWithTag(PagedPool, 8, tagB);
    GetParam().run();
    EXPECT_EQ(violations(GetParam().expected), 1u) << kernel.verifier().summary();
    EXPECT_EQ(kernel.verifier().total(), 1u) << kernel.verifier().summary();
    EXPECT_TRUE(kernel.pool().isLive(keep));
    ExFreePool(keep);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadFreeTest,
    ::testing::Values(BadFree{"Twice", Check::PoolDoubleFree,
                              [] {
                                  void* p = ExAllocatePoolWithTag(PagedPool, 8, tagA);
                                  ExFreePool(p);
                                  ExFreePool(p);
                              }},
                      BadFree{"NotPool", Check::PoolUnknownFree,
                              [] {
                                  static int notPool;
                                  ExFreePool(&notPool);
                              }},
                      BadFree{"Null", Check::PoolUnknownFree, [] { ExFreePool(nullptr); }},
                      BadFree{"WrongTag", Check::PoolTagMismatch,
                              [] {
                                  void* p = ExAllocatePoolWithTag(PagedPool, 8, tagA);
                                  ExFreePoolWithTag(p, tagB);
                                  ExFreePoolWithTag(p, tagA); // the block survived the bad free
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PoolTest, BlocksBelongToTheDriverThatAllocatedThem) {
    static void* block;
    DriverScript& s = script();
    s.entry = [](PDRIVER_OBJECT, PUNICODE_STRING) {
        block = ExAllocatePoolWithTag(PagedPool, 16, tagB);
        return STATUS_SUCCESS;
    };
    s.unload = [](PDRIVER_OBJECT) { ExFreePool(block); };
    PDRIVER_OBJECT driver = load(s);
    void* mine = ExAllocatePoolWithTag(PagedPool, 4, tagB);
    const auto usage = kernel.pool().usageOf(kernel.objects().driverRecord(driver));
    ASSERT_EQ(usage.size(), 1u);
    EXPECT_EQ(usage[0].blocks, 1u);
    EXPECT_EQ(usage[0].bytes, 16u);
    EXPECT_EQ(kernel.unloadDriver(driver), STATUS_SUCCESS); // freed in its unload: no leak
    ExFreePool(mine);
}

} // namespace
