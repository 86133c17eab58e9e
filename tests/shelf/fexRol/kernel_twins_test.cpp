// The kernel build's variants of the base library against their user-mode
// twins: the byte window under the wire streams against the standard stream
// buffer, the print of a status without the C library against the print with
// snprintf. Only the variants' own files are in this program (wirebuf.h,
// statfmt.cpp); the user-mode build gives the twins.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <streambuf>
#include <string>
#include <vector>

#include "failable.h"
#include "statfmt.h"
#include "wirebuf.h"

namespace {

// The standard stream buffer over fixed bytes, as the user-mode streams see
// one: reads end at the get area's end, writes at the put area's end.
struct FixedBuf : std::streambuf {
    FixedBuf(char* pch, size_t c)
    {
        setg(pch, pch, pch + c);
        setp(pch, pch + c);
    }
    size_t cRead() const { return static_cast<size_t>(gptr() - eback()); }
    size_t cWritten() const { return static_cast<size_t>(pptr() - pbase()); }
};

// Reads ('b' sbumpc, 'g' sgetc) or writes ('p' sputc of the next byte of
// "\x7F\x80\xFFz") on windows of 0 to 3 bytes of "\x01\xFF\x80": every result,
// the bytes passed and the bytes left behind are the same.
TEST(KernelTwins, TheByteWindowEndsAsTheStandardStreamBufferDoes)
{
    const std::vector<std::string> mpsgOps = {"b", "g", "bbbb", "gbgbgbgb", "bgbg", "p", "pppp", "pp"};
    const char mpchOut[] = "\x7F\x80\xFFz";
    for (size_t c = 0; c <= 3; ++c) {
        for (const std::string& sgOps : mpsgOps) {
            SCOPED_TRACE(std::to_string(c) + " bytes, " + sgOps);
            char mpchK[4] = {'\x01', '\xFF', '\x80', 'e'};
            char mpchU[4] = {'\x01', '\xFF', '\x80', 'e'};
            Wirebuf wb(mpchK, c);
            FixedBuf sb(mpchU, c);
            size_t iOut = 0;
            for (char op : sgOps) {
                if (op == 'b') {
                    EXPECT_EQ(wb.sbumpc(), sb.sbumpc());
                } else if (op == 'g') {
                    EXPECT_EQ(wb.sgetc(), sb.sgetc());
                } else {
                    char ch = mpchOut[iOut++];
                    EXPECT_EQ(wb.sputc(ch), sb.sputc(ch));
                }
            }
            EXPECT_EQ(wb.cDone(), sgOps[0] == 'p' ? sb.cWritten() : sb.cRead());
            EXPECT_EQ(std::string(mpchK, 4), std::string(mpchU, 4));
        }
    }
}

struct Status : Failable {
    Status(StatE e, const char* sz, int i) { setStat(e, sz, i); }
};

// Every state, text and number of the table in rooms from none to more than
// enough: the same length, the same bytes stored and none past the room.
TEST(KernelTwins, TheStatusPrintIsThePrintOfTheUserModeBuild)
{
    const std::string sgLong(150, 'x');
    const uint32_t mpuStat[] = {0, 1, 2, 4, 0xABCDEF, 0xFFFFFFFF};
    const char* const mpszText[] = {nullptr, "", "wire", "can't open", sgLong.c_str()};
    const int mpiNum[] = {0, 7, 59, -1, 65535, INT_MAX, INT_MIN};
    const unsigned mpSize[] = {0, 1, 2, 8, 17, 80, 200};
    int cCases = 0;
    for (uint32_t uStat : mpuStat)
        for (const char* szText : mpszText)
            for (int iNum : mpiNum)
                for (unsigned size : mpSize) {
                    Status fa(static_cast<Failable::StatE>(uStat), szText, iNum);
                    char mpchU[256], mpchK[256];
                    std::memset(mpchU, '#', sizeof mpchU);
                    std::memset(mpchK, '#', sizeof mpchK);
                    int cU = fa.print(mpchU, size);
                    int cK = fexPrintStat(mpchK, size, uStat, szText ? szText : "-nil-", iNum);
                    ASSERT_EQ(cK, cU) << uStat << " " << (szText ? szText : "null") << " " << iNum << " " << size;
                    ASSERT_EQ(std::string(mpchK, sizeof mpchK), std::string(mpchU, sizeof mpchU))
                        << uStat << " " << (szText ? szText : "null") << " " << iNum << " " << size;
                    ++cCases;
                }
    EXPECT_EQ(cCases, 6 * 5 * 7 * 7);
}

}  // namespace
