#include "yekpro_sio.h"
#include "yekpro_vaq.h"
#include "wire_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace KVdepSio100;
using namespace wire_test;

namespace {

const Sio_sio_Proto proSio;

TEST(Sio, ProtocolObjectExtendsVaq)
{
    EXPECT_STREQ(proSio.szName(), "sio");
    EXPECT_STREQ(proSio.szProto(),
                 "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)(/Int1:u_int/)(/Int1:u_int/)"
                 "((/Int1:u_int/)/Int2:u_int/)(/Int4:u_int,Int4:u_int/)");
    EXPECT_EQ(std::strlen(proSio.szProto()), 125u);
}

TEST(Sio, MessagesHaveTheirTypesSizesAndZeroFields)
{
    struct Case {
        YekControlBuf ucb;
        int eType;
        size_t s;
    } cases[] = {
        {YekControlBuf() = SioSync(), 7, 12},
        {YekControlBuf() = SioRead(), 8, 12},
        {YekControlBuf() = SioWrite(), 9, 16},
        {YekControlBuf() = SioResp(), 10, 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ucb.eType(), c.eType);
        EXPECT_EQ(c.ucb.size(), c.s) << c.eType;
        for (size_t k = sizeof(YekControl); k < c.s; ++k)
            EXPECT_EQ(reinterpret_cast<const unsigned char*>(&c.ucb)[k], 0) << c.eType << " byte " << k;
    }
    // The answer carries the value read in its status word; it has no detail field.
    EXPECT_EQ(SioResp().fStat(0xAB).fStat(), 0xABu);
}

TEST(Sio, ViewsAcceptTheirClassAndItsDerivedClasses)
{
    struct Case {
        const char* view;
        const void* (*pf)(YekControl*);
        std::initializer_list<int> accepted;
    } cases[] = {
        {"pSioSync", [](YekControl* p) -> const void* { return pSioSync(p); }, {7}},
        {"pSioRead", [](YekControl* p) -> const void* { return pSioRead(p); }, {8, 9}},
        {"pSioWrite", [](YekControl* p) -> const void* { return pSioWrite(p); }, {9}},
        {"pSioResp", [](YekControl* p) -> const void* { return pSioResp(p); }, {10}},
    };
    for (const Case& c : cases) {
        std::string sgAccepted, sgWant;
        for (int e = 4; e <= 11; ++e) {
            YekControl uc(e, 8);
            if (c.pf(&uc) == &uc)
                sgAccepted += std::to_string(e) + " ";
        }
        for (int e : c.accepted)
            sgWant += std::to_string(e) + " ";
        EXPECT_EQ(sgAccepted, sgWant) << c.view;
        EXPECT_EQ(c.pf(nullptr), nullptr) << c.view;
    }
    const YekControl& ucConst = SioWrite();
    EXPECT_EQ(pSioRead(&ucConst), &ucConst);
    EXPECT_EQ(pSioResp(&ucConst), nullptr);
}

TEST(Sio, PrintForms)
{
    EXPECT_EQ(printed(SioSync().fCtrl(3)), "size=12 type=0x7 fCtrl=3");
    EXPECT_EQ(printed(SioRead().iPort(12)), "size=12 type=0x8 iPort=12");
    EXPECT_EQ(printed(static_cast<SioWrite&>(SioWrite().iPort(1)).iVal(511)), "size=16 type=0x9 iPort=1 iVal=511");
    EXPECT_EQ(printed(SioResp().eErr(0).fStat(171)), "size=16 type=0xa eErr=0 fStat=171");
}

TEST(Sio, WireForms)
{
    struct Case {
        const char* what;
        YekControlBuf ucb;
        std::string out;
    } cases[] = {
        {"sync: the flags are one byte", YekControlBuf() = SioSync().fCtrl(0x101), bytes({0x07, 0x01})},
        {"read: the port is one byte", YekControlBuf() = SioRead().iPort(0x302), bytes({0x08, 0x02})},
        {"write", YekControlBuf() = static_cast<SioWrite&>(SioWrite().iPort(1)).iVal(0x1FF), bytes({0x09, 0x01, 0x01, 0xFF})},
        {"write: port and value lose their upper bits",
         YekControlBuf() = static_cast<SioWrite&>(SioWrite().iPort(0x123)).iVal(0x12345), bytes({0x09, 0x23, 0x23, 0x45})},
        {"answer", YekControlBuf() = SioResp().eErr(0).fStat(0xAB), bytes({0x0A, 0, 0, 0, 0, 0, 0, 0, 0xAB})},
        {"vaq request", YekControlBuf() = KVdepVaq100::VaqInit(), bytes({0x06})},
        {"type 11 is nobody's", YekControlBuf() = YekControl(11, 8), "failed yek 179"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(marshalled(proSio, c.ucb), c.out) << c.what;
}

TEST(Sio, MarshalThenUnmarshalGivesTheSameMessage)
{
    YekControlBuf mpucb[] = {
        YekControlBuf() = SioSync().fCtrl(0xFF),
        YekControlBuf() = SioRead().iPort(0x80),
        YekControlBuf() = static_cast<SioWrite&>(SioWrite().iPort(0)).iVal(0xFFFF),
        YekControlBuf() = SioResp().eErr(0xFFFFFFFF).fStat(0x12345678),
    };
    for (const YekControlBuf& ucb : mpucb) {
        Unmarshalled r = unmarshalled(proSio, marshalled(proSio, ucb));
        EXPECT_TRUE(r.fGood) << r.sgErr;
        EXPECT_TRUE(r.fAllRead) << ucb;
        EXPECT_TRUE(r.ucb == ucb) << r.ucb << " / " << ucb;
    }
    Unmarshalled r = unmarshalled(proSio, bytes({0x09, 0x23, 0x23, 0x45}));
    ASSERT_NE(pSioWrite(&r.ucb), nullptr);
    EXPECT_EQ(pSioWrite(&r.ucb)->iPort(), 0x23u);
    EXPECT_EQ(pSioWrite(&r.ucb)->iVal(), 0x2345u);
}

TEST(Sio, OtherTypesGoToVaq)
{
    Unmarshalled r = unmarshalled(proSio, bytes({0x04, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_TRUE(r.fGood);
    const KVdepVaq100::VaqResp* pr = KVdepVaq100::pVaqResp(&r.ucb);
    ASSERT_NE(pr, nullptr);
    EXPECT_EQ(pr->iErr(), 2u);

    r = unmarshalled(proSio, bytes({0x0B, 0, 0}));
    EXPECT_FALSE(r.fGood);
    EXPECT_EQ(r.sgErr, "yekpro_vaq 123");
    EXPECT_EQ(r.ucb.size(), 136u) << "nothing built";
}

TEST(Sio, ShortAnswerLeavesTheStatusZero)
{
    Unmarshalled r = unmarshalled(proSio, bytes({0x0A, 0, 0, 0, 4, 0, 0}));
    EXPECT_FALSE(r.fGood);
    EXPECT_EQ(r.sgErr, "wire 59");
    ASSERT_NE(pSioResp(&r.ucb), nullptr);
    EXPECT_EQ(pSioResp(&r.ucb)->eErr(), 4u);
    EXPECT_EQ(pSioResp(&r.ucb)->fStat(), 0u);
}

}  // namespace
