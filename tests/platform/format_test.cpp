// The kernel formatter follows the platform's meanings, which differ from
// this machine's printf: 'l' is 32 bits, %ws and %S take UTF-16 text, %p is
// 16 upper-case hex digits.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>
#include <cstring>
#include <string>

#include "kv_kernel.h"
#include "ntstrsafe.h"

namespace {

struct Case {
    const char* name;
    std::string got;
    const char* want;
};

TEST(PlatformFormat, WindowsMeaningsOfSizesAndConversions)
{
    const WCHAR wide[] = u"\\Device\\ZEDOZ_EVU_0";
    UNICODE_STRING us;
    RtlInitUnicodeString(&us, u"key");
    ULONG big = 0xFFFFFFFFu;
    LONG neg = -2;
    const Case cases[] = {
        {"%ws", kstub::formatString("(%ws)", wide), "(\\Device\\ZEDOZ_EVU_0)"},
        {"%ls", kstub::formatString("%ls", wide), "\\Device\\ZEDOZ_EVU_0"},
        {"%S", kstub::formatString("%S", wide), "\\Device\\ZEDOZ_EVU_0"},
        {"%hs", kstub::formatString("%hs", "narrow"), "narrow"},
        {"%wZ", kstub::formatString("%wZ", &us), "key"},
        {"%lu 32-bit", kstub::formatString("%lu %lu", big, 7u), "4294967295 7"},
        {"%ld 32-bit", kstub::formatString("%ld|%ld", neg, 5), "-2|5"},
        {"%lx", kstub::formatString("%lx", big), "ffffffff"},
        {"%8.8lX", kstub::formatString("%8.8lX", 0xABCu), "00000ABC"},
        {"%I64d", kstub::formatString("%I64d", -5000000000ll), "-5000000000"},
        {"%llx", kstub::formatString("%llx", 0x123456789ull), "123456789"},
        {"%td", kstub::formatString("%td", std::ptrdiff_t(-3)), "-3"},
        {"%zu", kstub::formatString("%zu", std::size_t(1) << 40), "1099511627776"},
        {"%Iu", kstub::formatString("%Iu", std::size_t(12)), "12"},
        {"%p", kstub::formatString("%p", reinterpret_cast<void*>(0xabcdef12ull)), "00000000ABCDEF12"},
        {"%i", kstub::formatString("%i", 42), "42"},
        {"%x %X", kstub::formatString("%x %X", 0xC0000182u, 0xc0000182u), "c0000182 C0000182"},
        {"%#x", kstub::formatString("%#x", 255), "0xff"},
        {"%05d", kstub::formatString("%05d", -42), "-0042"},
        {"%-4d|", kstub::formatString("%-4d|", 7), "7   |"},
        {"%4s", kstub::formatString("[%4s][%-4s][%.2s]", "ab", "ab", "abcd"), "[  ab][ab  ][ab]"},
        {"%c", kstub::formatString("%c%c", 'o', 'k'), "ok"},
        {"%hd", kstub::formatString("%hd", 0x18000), "-32768"},
        {"%%", kstub::formatString("100%%"), "100%"},
        {"null text", kstub::formatString("%s %ws", static_cast<char*>(nullptr),
                                          static_cast<WCHAR*>(nullptr)),
         "(null) (null)"},
        {"above 0x7F", kstub::formatString("%ws", u"a\u00e9b"), "a?b"},
        {"format twice", kstub::formatString(kstub::formatString("%s: %%s\n", "kqir").c_str(), "msg"),
         "kqir: msg\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(PlatformFormat, BoundedOutputIsCutAndTerminated)
{
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(kstub::format(buf, sizeof buf, "%s", "0123456789"), 10);
    EXPECT_STREQ(buf, "0123456");
    EXPECT_EQ(RtlStringCbPrintfA(buf, sizeof buf, "%d", 1234567), STATUS_SUCCESS);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(RtlStringCbPrintfA(buf, sizeof buf, "%d", 12345678), STATUS_BUFFER_OVERFLOW);
    EXPECT_STREQ(buf, "1234567");
}

// Cut anywhere, the output is the start of the whole text, terminated, and
// the count is the whole text's length: literal runs, padding, numbers and
// wide text alike.
TEST(PlatformFormat, AnyBufferSizeGivesTheStartOfTheWholeText)
{
    const WCHAR wide[] = u"wide";
    struct Cut {
        const char* fmt;
        std::string whole;
    } mpcut[] = {
        {"literal run then %d and %-6s| %08X %ws", kstub::formatString("literal run then %d and %-6s| %08X %ws",
                                                                         -12345, "ab", 0xBEEFu, wide)},
    };
    for (const Cut& c : mpcut) {
        ASSERT_EQ(c.whole, "literal run then -12345 and ab    | 0000BEEF wide");
        for (std::size_t cb = 0; cb <= c.whole.size() + 2; ++cb) {
            std::vector<char> buf(cb + 1, 'x');
            int n = kstub::format(cb ? buf.data() : nullptr, cb, c.fmt, -12345, "ab", 0xBEEFu, wide);
            EXPECT_EQ(n, int(c.whole.size())) << "size " << cb;
            if (cb > 0) {
                EXPECT_EQ(std::string(buf.data()), c.whole.substr(0, cb - 1)) << "size " << cb;
            }
            EXPECT_EQ(buf[cb], 'x') << "nothing written past the buffer, size " << cb;
        }
    }
    // A precision reads no further than it says.
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(kstub::formatString("[%.3s]", unterminated), "[abc]");
}

// A precision bounds a wide text as it bounds a narrow one: here the three
// characters end where a page that cannot be read begins.
TEST(PlatformFormat, APrecisionReadsAWideTextNoFurther)
{
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * PAGE_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + PAGE_SIZE, PAGE_SIZE, PROT_NONE), 0);
    auto* pw = reinterpret_cast<WCHAR*>(pages + PAGE_SIZE) - 3;
    pw[0] = u'a';
    pw[1] = u'b';
    pw[2] = u'c';
    const Case cases[] = {
        {"%.3ws", kstub::formatString("[%.3ws]", pw), "[abc]"},
        {"%.3S", kstub::formatString("[%.3S]", pw), "[abc]"},
        {"%.3ls", kstub::formatString("[%.3ls]", pw), "[abc]"},
        {"%.*ws", kstub::formatString("[%.*ws]", 3, pw), "[abc]"},
        {"%-5.2ws", kstub::formatString("[%-5.2ws]", pw), "[ab   ]"},
        {"%.5ws, terminated sooner", kstub::formatString("[%.5ws]", u"xy"), "[xy]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
    munmap(pages, 2 * PAGE_SIZE);
}

// A width or precision beyond what an int holds is the largest one: the
// text is cut at the buffer and the count stops at INT_MAX.
TEST(PlatformFormat, WidthsBeyondAnIntAreTheLargestWidth)
{
    struct Row {
        const char* fmt;
        int a, b;  // the arguments (b unused by a format of one)
        std::string want;
    };
    const Row rows[] = {
        {"%*d|", INT_MIN, 5, "5" + std::string(14, ' ')},
        {"%*d|", INT_MAX, 5, std::string(15, ' ')},
        {"%99999999999d", 5, 0, std::string(15, ' ')},
        {"%2147483648d", 5, 0, std::string(15, ' ')},
        {"%4294967298d", 5, 0, std::string(15, ' ')},  // 2 if the digits wrapped
        {"%-99999999999d", 5, 0, "5" + std::string(14, ' ')},
        {"%.99999999999d", 5, 0, std::string(15, '0')},
    };
    for (const Row& r : rows) {
        char buf[16];
        EXPECT_EQ(RtlStringCbPrintfA(buf, sizeof buf, r.fmt, r.a, r.b), STATUS_BUFFER_OVERFLOW) << r.fmt;
        EXPECT_EQ(std::string(buf), r.want) << r.fmt << " " << r.a;
    }
    // A written precision beyond an int bounds a text as the largest one.
    const Case texts[] = {
        {"%.99999999999s", kstub::formatString("[%.99999999999s]", "abc"), "[abc]"},
        {"%.2147483648s", kstub::formatString("[%.2147483648s]", "abc"), "[abc]"},
        {"%.4294967298s", kstub::formatString("[%.4294967298s]", "abc"), "[abc]"},  // "ab" if the digits wrapped
        {"%.4294967298ws", kstub::formatString("[%.4294967298ws]", u"abc"), "[abc]"},
    };
    for (const Case& c : texts)
        EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(kstub::format(nullptr, 0, "%*d", INT_MIN, 5), INT_MAX);
    EXPECT_EQ(kstub::format(nullptr, 0, "%*d%*d", INT_MAX, 5, INT_MAX, 5), INT_MAX);
}

// The safe string functions' bounds: a destination larger than the largest
// count is refused and left alone; a length that cannot be given is 0.
TEST(PlatformFormat, SafeStringSizesAndLengthsFollowTheirRules)
{
    char buf[8] = "keep";
    EXPECT_EQ(RtlStringCbPrintfA(buf, std::size_t(NTSTRSAFE_MAX_CCH) + 1, "%s", "x"), STATUS_INVALID_PARAMETER);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(RtlStringCbPrintfA(buf, 0, "%s", "x"), STATUS_INVALID_PARAMETER);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(RtlStringCbPrintfA(buf, NTSTRSAFE_MAX_CCH, "%s", "x"), STATUS_SUCCESS);
    EXPECT_STREQ(buf, "x");
    const char unterminated[3] = {'a', 'b', 'c'};
    struct Row {
        const char* what;
        const char* psz;
        std::size_t cbMax;
        NTSTATUS st;
        std::size_t cb;
    };
    const Row rows[] = {
        {"fits", "abc", 4, STATUS_SUCCESS, 3},
        {"largest size", "abc", NTSTRSAFE_MAX_CCH, STATUS_SUCCESS, 3},
        {"no terminator within the size", unterminated, sizeof unterminated, STATUS_INVALID_PARAMETER, 0},
        {"no text", nullptr, 4, STATUS_INVALID_PARAMETER, 0},
        {"size 0", "abc", 0, STATUS_INVALID_PARAMETER, 0},
        {"size above the largest", "abc", std::size_t(NTSTRSAFE_MAX_CCH) + 1, STATUS_INVALID_PARAMETER, 0},
    };
    for (const Row& r : rows) {
        std::size_t cb = 99;
        EXPECT_EQ(RtlStringCbLengthA(r.psz, r.cbMax, &cb), r.st) << r.what;
        EXPECT_EQ(cb, r.cb) << r.what;
    }
}

TEST(PlatformFormat, DbgPrintGoesToTheLogOneRecordPerCall)
{
    kstub::Kernel k;
    DbgPrint("kavorqir load\n");
    DbgPrint("kqir: %s=%ld\n", "debug", 0x303);
    DbgPrint("partial ");
    DbgPrint("line\n");
    EXPECT_EQ(k.log().records().size(), 4u);
    EXPECT_EQ(k.log().lines(),
              (std::vector<std::string>{"kavorqir load", "kqir: debug=771", "partial line"}));
    EXPECT_TRUE(k.log().contains("debug=771"));
    EXPECT_EQ(k.log().count("kqir"), 1u);
    k.log().clear();
    EXPECT_TRUE(k.log().lines().empty());
}

TEST(PlatformFormat, DbgPrintCutsARecordAt512Bytes)
{
    kstub::Kernel k;
    std::string s(600, 'a');
    DbgPrint("%s", s.c_str());
    EXPECT_EQ(k.log().records().at(0).size(), 511u);
}

TEST(PlatformStopDeathTest, KeBugCheckExPrintsCodeAndParametersAndAborts)
{
    EXPECT_DEATH(KeBugCheckEx(0x2A0001, 0x61626364, 0x65666768, 0x696A6B6C, 123),
                 "STOP 0x002A0001 \\(0x0000000061626364, 0x0000000065666768, "
                 "0x00000000696A6B6C, 0x000000000000007B\\).*\"abcdefghijkl\", parameter 4 = 123");
}

TEST(PlatformStatus, NtStatusToWin32ErrorMapping)
{
    struct Row {
        NTSTATUS st;
        ULONG err;
    };
    const Row rows[] = {
        {STATUS_SUCCESS, 0},
        {STATUS_OBJECT_NAME_NOT_FOUND, 2},
        {STATUS_NO_SUCH_DEVICE, 55},
        {STATUS_INSUFFICIENT_RESOURCES, 1450},
        {STATUS_UNSUCCESSFUL, 31},
        {STATUS_CANCELLED, 995},
        {STATUS_DEVICE_CONFIGURATION_ERROR, 13},
        {STATUS_INVALID_DEVICE_REQUEST, 1},
        {STATUS_INVALID_PARAMETER, 87},
        {STATUS_DEVICE_NOT_CONNECTED, 1167},
        {STATUS_BUFFER_OVERFLOW, 234},
        {NTSTATUS(0xC0001234), 31},
    };
    for (const Row& r : rows)
        EXPECT_EQ(RtlNtStatusToDosError(r.st), r.err) << std::hex << r.st;
}

}  // namespace
