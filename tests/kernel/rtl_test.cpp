// The run-time library's string routines.
#include "kernel/wide.h"
#include "scripted_driver.h"

namespace {

using namespace kt;
using winsim::kernel::narrow;
using winsim::kernel::widen;

struct ParseCase {
    const char* text;
    ULONG base;
    NTSTATUS status;
    ULONG value;
};

class UnicodeToIntegerTest : public KernelTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(UnicodeToIntegerTest, ParsesAsWindows) {
    const ParseCase c = GetParam();
    std::vector<WCHAR> text = widen(c.text);
    UNICODE_STRING s;
    winsim::kernel::viewAsUnicode(text, s);
    ULONG value = 0xDEADBEEF;
    EXPECT_EQ(RtlUnicodeStringToInteger(&s, c.base, &value), c.status);
    EXPECT_EQ(value, c.status == STATUS_SUCCESS ? c.value : 0xDEADBEEF);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnicodeToIntegerTest,
    ::testing::Values(
        ParseCase{"123", 10, STATUS_SUCCESS, 123}, ParseCase{"  \t42", 10, STATUS_SUCCESS, 42},
        ParseCase{"+7", 10, STATUS_SUCCESS, 7}, ParseCase{"-1", 10, STATUS_SUCCESS, 0xFFFFFFFF},
        ParseCase{"13, function 0", 10, STATUS_SUCCESS, 13},
        ParseCase{"1A", 16, STATUS_SUCCESS, 26}, ParseCase{"ff", 16, STATUS_SUCCESS, 255},
        ParseCase{"777", 8, STATUS_SUCCESS, 511}, ParseCase{"101", 2, STATUS_SUCCESS, 5},
        ParseCase{"0x1A", 0, STATUS_SUCCESS, 26}, ParseCase{"0o17", 0, STATUS_SUCCESS, 15},
        ParseCase{"0b101", 0, STATUS_SUCCESS, 5}, ParseCase{"-0x10", 0, STATUS_SUCCESS, 0xFFFFFFF0},
        ParseCase{"0x1A", 16, STATUS_SUCCESS, 0} /* prefixes only with base 0 */,
        ParseCase{"019", 8, STATUS_SUCCESS, 1},
        ParseCase{"4294967296", 10, STATUS_SUCCESS, 0} /* wraps */,
        ParseCase{"", 10, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"   ", 10, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"-", 10, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"x1", 10, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"0x", 0, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"8", 8, STATUS_INVALID_PARAMETER, 0},
        ParseCase{"12", 3, STATUS_INVALID_PARAMETER, 0}));

using RtlTest = KernelTest;

TEST_F(RtlTest, UnicodeToIntegerStopsAtTheCountedLength) {
    std::vector<WCHAR> text = widen("1234");
    UNICODE_STRING s;
    s.Buffer = text.data();
    s.Length = 2 * sizeof(WCHAR);
    s.MaximumLength = s.Length;
    ULONG value = 0;
    EXPECT_EQ(RtlUnicodeStringToInteger(&s, 10, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 12u);
}

TEST_F(RtlTest, InitStringsCountBytes) {
    std::vector<WCHAR> text = widen("QEL_CARD");
    UNICODE_STRING u;
    RtlInitUnicodeString(&u, text.data());
    EXPECT_EQ(u.Length, 16);
    EXPECT_EQ(u.MaximumLength, 18);
    EXPECT_EQ(u.Buffer, text.data());
    RtlInitUnicodeString(&u, nullptr);
    EXPECT_EQ(u.Length, 0);
    EXPECT_EQ(u.Buffer, nullptr);
    ANSI_STRING a;
    RtlInitAnsiString(&a, "020D0003");
    EXPECT_EQ(a.Length, 8);
    EXPECT_EQ(a.MaximumLength, 9);
}

TEST_F(RtlTest, CopyTruncatesAndTerminatesWhenThereIsRoom) {
    std::vector<WCHAR> source = widen("\\Registry\\Machine");
    UNICODE_STRING from;
    RtlInitUnicodeString(&from, source.data());
    WCHAR room[20];
    UNICODE_STRING to{0, sizeof room, room};
    RtlCopyUnicodeString(&to, &from);
    EXPECT_EQ(to.Length, from.Length);
    EXPECT_EQ(room[to.Length / 2], 0);
    WCHAR small[4] = {'x', 'x', 'x', 'x'};
    UNICODE_STRING tight{0, sizeof small, small};
    RtlCopyUnicodeString(&tight, &from);
    EXPECT_EQ(tight.Length, sizeof small);
    EXPECT_EQ(narrow(tight), "\\Reg");
    RtlCopyUnicodeString(&to, nullptr);
    EXPECT_EQ(to.Length, 0);
}

TEST_F(RtlTest, AnsiToUnicodeAllocatesFromPoolOrNeedsRoomForTheNul) {
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "020D0003");
    UNICODE_STRING allocated{};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&allocated, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(narrow(allocated), "020D0003");
    EXPECT_EQ(allocated.Buffer[8], 0);
    EXPECT_EQ(kernel.pool().outstanding(winsim::kernel::tagString), 1u);
    RtlFreeUnicodeString(&allocated);
    EXPECT_EQ(allocated.Buffer, nullptr);
    EXPECT_EQ(kernel.pool().outstanding(winsim::kernel::tagString), 0u);

    WCHAR exact[8];
    UNICODE_STRING noRoom{0, sizeof exact, exact};
    EXPECT_EQ(RtlAnsiStringToUnicodeString(&noRoom, &ansi, FALSE), STATUS_BUFFER_OVERFLOW);
    WCHAR enough[9];
    UNICODE_STRING fits{0, sizeof enough, enough};
    EXPECT_EQ(RtlAnsiStringToUnicodeString(&fits, &ansi, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(fits.Length, 16);
    EXPECT_EQ(enough[8], 0);
}

TEST_F(RtlTest, CompareUnicodeStringAndMemory) {
    std::vector<WCHAR> a = widen("Ports"), b = widen("PORTS"), c = widen("PORTSX");
    UNICODE_STRING ua, ub, uc;
    RtlInitUnicodeString(&ua, a.data());
    RtlInitUnicodeString(&ub, b.data());
    RtlInitUnicodeString(&uc, c.data());
    EXPECT_EQ(RtlCompareUnicodeString(&ua, &ub, TRUE), 0);
    EXPECT_GT(RtlCompareUnicodeString(&ua, &ub, FALSE), 0);
    EXPECT_LT(RtlCompareUnicodeString(&ub, &uc, TRUE), 0);
    const char x[] = "abcdef", y[] = "abcXef";
    EXPECT_EQ(RtlCompareMemory(x, y, 6), 3u);
    EXPECT_EQ(RtlCompareMemory(x, x, 6), 6u);
}

} // namespace
