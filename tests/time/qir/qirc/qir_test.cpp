#include "yekpro_qir.h"
#include "yekpro_vaq.h"
#include "wire_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace KVdepQir100;
using namespace wire_test;

namespace {

const Qir_qir_Proto proQir;

TEST(Qir, ProtocolObjectExtendsVaq)
{
    EXPECT_STREQ(proQir.szName(), "qir");
    EXPECT_EQ(std::strlen(proQir.szProto()), 390u);
    KVdepVaq100::Vaq_vaq_Proto proVaq;
    EXPECT_EQ(std::strncmp(proQir.szProto(), proVaq.szProto(), 44), 0);
    EXPECT_STREQ(proQir.szProto() + 44,
                 "(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)((/Int4:u_int,Int4:u_int,Int4:u_int/)/Int4:u_int/)"
                 "(/Int1:u_int,Int4:u_int,Int4:u_int/)((/Int4:u_int,Int4:u_int,Int4:u_int/)//"
                 "(/Int1:u_int,Int4:u_int,Int4:u_int/))(/Int1:u_int/)((/Int1:u_int/)/Int2:u_int/)"
                 "(/Int4:u_int,Int1:bool/(/Int4:u_int,Int4:u_int/))((/Int4:u_int,Int1:bool/(/Int4:u_int,Int4:u_int/))//)");
}

TEST(Qir, MessagesHaveTheirTypesSizesAndZeroFields)
{
    struct Case {
        YekControlBuf ucb;
        int eType;
        size_t s;
    } cases[] = {
        {YekControlBuf() = QirRead(), 7, 12},  {YekControlBuf() = QirWrite(), 8, 16},
        {YekControlBuf() = QirTrf(), 9, 24},   {YekControlBuf() = QirFini(), 10, 8},
        {YekControlBuf() = QirCmd(), 11, 24},  {YekControlBuf() = QirResp(), 12, 20},
        {YekControlBuf() = QirWrResp(), 13, 24}, {YekControlBuf() = QirInfoResp(), 14, 32},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ucb.eType(), c.eType);
        EXPECT_EQ(c.ucb.size(), c.s) << c.eType;
        for (size_t k = sizeof(YekControl); k < c.s; ++k)
            EXPECT_EQ(reinterpret_cast<const unsigned char*>(&c.ucb)[k], 0) << c.eType << " byte " << k;
    }
    EXPECT_EQ(QirWrite(8, 40).size(), 40u) << "an explicit size is kept";
}

TEST(Qir, AccessorsChainAndTheFlagIsOneOrZero)
{
    QirTrf trf;
    trf.iTrans(3).fLast(true);
    trf.tiTmo(YekTime(1, 500));
    EXPECT_EQ(trf.iTrans(), 3u);
    EXPECT_EQ(trf._fLast, 1u);
    EXPECT_EQ(trf.tiTmo().tv_nsec, 500u);
    trf._fLast = 2;  // as a board may send it
    EXPECT_TRUE(trf.fLast());
    EXPECT_EQ(trf.fLast(false)._fLast, 0u);

    QirInfoResp ir;
    ir.info(QirInfo(1, 2, 3)).eErr(4);
    EXPECT_EQ(ir.info().cIntr(), 2u);
    EXPECT_EQ(ir.eErr(), 4u);
    EXPECT_EQ(QirWrite().iVal(9).iPort(7).iPort(), 7u);
}

TEST(Qir, ViewsAcceptTheirClassAndItsDerivedClasses)
{
    // One row per view: the types it accepts among 6 to 15.
    struct Case {
        const char* view;
        const void* (*pf)(YekControl*);
        std::initializer_list<int> accepted;
    } cases[] = {
        {"pQirRead", [](YekControl* p) -> const void* { return pQirRead(p); }, {7, 8}},
        {"pQirWrite", [](YekControl* p) -> const void* { return pQirWrite(p); }, {8}},
        {"pQirTrf", [](YekControl* p) -> const void* { return pQirTrf(p); }, {9, 11}},
        {"pQirFini", [](YekControl* p) -> const void* { return pQirFini(p); }, {10}},
        {"pQirCmd", [](YekControl* p) -> const void* { return pQirCmd(p); }, {11}},
        {"pQirResp", [](YekControl* p) -> const void* { return pQirResp(p); }, {12, 13, 14}},
        {"pQirWrResp", [](YekControl* p) -> const void* { return pQirWrResp(p); }, {13}},
        {"pQirInfoResp", [](YekControl* p) -> const void* { return pQirInfoResp(p); }, {14}},
    };
    for (const Case& c : cases) {
        std::string sgAccepted;
        for (int e = 6; e <= 15; ++e) {
            YekControl uc(e, 8);
            const void* pv = c.pf(&uc);
            EXPECT_TRUE(pv == nullptr || pv == &uc) << c.view;
            if (pv)
                sgAccepted += std::to_string(e) + " ";
        }
        std::string sgWant;
        for (int e : c.accepted)
            sgWant += std::to_string(e) + " ";
        EXPECT_EQ(sgAccepted, sgWant) << c.view;
        EXPECT_EQ(c.pf(nullptr), nullptr) << c.view;
    }
    const YekControl& ucConst = QirInfoResp();
    EXPECT_EQ(pQirResp(&ucConst), &ucConst);
    EXPECT_EQ(pQirWrResp(&ucConst), nullptr);
}

TEST(Qir, PrintFormsAreDecimalAfterTheHexHeader)
{
    QirTrf trf;
    trf.iTrans(2).fLast(true);
    trf.tiTmo(YekTime(1, 500));
    QirCmd cmd;
    cmd.iTrans(1);
    EXPECT_EQ(printed(QirRead().iPort(10)), "size=12 type=0x7 iPort=10");
    EXPECT_EQ(printed(static_cast<QirWrite&>(QirWrite().iPort(10)).iVal(300)), "size=16 type=0x8 iPort=10 iVal=300");
    EXPECT_EQ(printed(trf), "size=24 type=0x9 tiTmo=1:500 iTrans=2 fLast=1");
    EXPECT_EQ(printed(QirFini()), "size=8 type=0xa");
    EXPECT_EQ(printed(cmd), "size=24 type=0xb tiTmo=0:0 iTrans=1 fLast=0");
    EXPECT_EQ(printed(QirResp().eErr(1).iErr(11).fStat(12)), "size=20 type=0xc eErr=1 iErr=11 fStat=12");
    EXPECT_EQ(printed(QirWrResp().cTrans(17)), "size=24 type=0xd eErr=0 iErr=0 fStat=0 cTrans=17");
    EXPECT_EQ(printed(QirInfoResp().info(QirInfo(10, 11, 12))),
              "size=32 type=0xe eErr=0 iErr=0 fStat=0 info= eArch=10 cIntr=11 fLinec=12");
}

TEST(Qir, WireForms)
{
    QirTrf trf;
    trf.iTrans(2).fLast(true);
    trf.tiTmo(YekTime(1, 500));
    QirCmd cmd;
    cmd.iTrans(0x01020304);
    cmd.tiTmo(YekTime(0xA0B0C0D0, 7));
    struct Case {
        const char* what;
        YekControlBuf ucb;
        std::string out;
    } cases[] = {
        {"read: the port is one byte", YekControlBuf() = QirRead().iPort(0x1FE), bytes({0x07, 0xFE})},
        {"write: port and value lose their upper bits",
         YekControlBuf() = static_cast<QirWrite&>(QirWrite().iPort(0x123)).iVal(0x12345), bytes({0x08, 0x23, 0x23, 0x45})},
        {"transfer: time first", YekControlBuf() = trf, bytes({0x09, 0, 0, 0, 1, 0, 0, 1, 0xF4, 0, 0, 0, 2, 1})},
        {"fini", YekControlBuf() = QirFini(), bytes({0x0A})},
        {"command transfer", YekControlBuf() = cmd,
         bytes({0x0B, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 0, 7, 1, 2, 3, 4, 0})},
        {"answer", YekControlBuf() = QirResp().eErr(1).iErr(0x8000FFFF).fStat(0x10),
         bytes({0x0C, 0, 0, 0, 1, 0x80, 0, 0xFF, 0xFF, 0, 0, 0, 0x10})},
        {"write answer", YekControlBuf() = QirWrResp().cTrans(256),
         bytes({0x0D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0})},
        {"information: the architecture is one byte", YekControlBuf() = QirInfoResp().info(QirInfo(0x102, 3, 0xFFFFFFFF)),
         bytes({0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"vaq request", YekControlBuf() = KVdepVaq100::VaqInit(), bytes({0x06})},
        {"vaq answer", YekControlBuf() = KVdepVaq100::VaqResp().iErr(5), bytes({0x04, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0})},
        {"core type", YekControlBuf() = YekControl(2, 8), bytes({0x02})},
        {"type 15 is nobody's", YekControlBuf() = YekControl(15, 8), "failed yek 179"},
        {"type 5 is nobody's", YekControlBuf() = YekControl(5, 8), "failed yek 179"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(marshalled(proQir, c.ucb), c.out) << c.what;
}

TEST(Qir, MarshalThenUnmarshalGivesTheSameMessage)
{
    QirTrf trf;
    trf.iTrans(0xFFFFFFFF).fLast(true);
    trf.tiTmo(YekTime(0x80000000, 999999999));
    QirCmd cmd;
    cmd.iTrans(1);
    cmd.tiTmo(YekTime(2, 3));
    YekControlBuf mpucb[] = {
        YekControlBuf() = QirRead().iPort(0xFF),
        YekControlBuf() = static_cast<QirWrite&>(QirWrite().iPort(1)).iVal(0xFFFF),
        YekControlBuf() = trf,
        YekControlBuf() = QirFini(),
        YekControlBuf() = cmd,
        YekControlBuf() = QirResp().eErr(0xFFFFFFFF).iErr(0x12345678).fStat(1),
        YekControlBuf() = static_cast<QirWrResp&>(QirWrResp().eErr(2)).cTrans(0xCAFEBABE),
        YekControlBuf() = static_cast<QirInfoResp&>(QirInfoResp().iErr(3)).info(QirInfo(0xFF, 0x10000, 0x7FFFFFFF)),
        YekControlBuf() = KVdepVaq100::VaqResp().eErr(1).fStat(2),
    };
    for (const YekControlBuf& ucb : mpucb) {
        Unmarshalled r = unmarshalled(proQir, marshalled(proQir, ucb));
        EXPECT_TRUE(r.fGood) << r.sgErr;
        EXPECT_TRUE(r.fAllRead) << ucb;
        EXPECT_TRUE(r.ucb == ucb) << r.ucb << " / " << ucb;
    }
}

TEST(Qir, UnmarshalDropsNothingButTheWireWidths)
{
    Unmarshalled r = unmarshalled(proQir, bytes({0x08, 0x23, 0x23, 0x45}));
    ASSERT_TRUE(r.fGood);
    const QirWrite* pw = pQirWrite(&r.ucb);
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(pw->size(), 16u);
    EXPECT_EQ(pw->iPort(), 0x23u);
    EXPECT_EQ(pw->iVal(), 0x2345u);

    // A board's flag byte other than 0 or 1 reads as set.
    r = unmarshalled(proQir, bytes({0x09, 0, 0, 0, 1, 0, 0, 1, 0xF4, 0, 0, 0, 2, 0x80}));
    ASSERT_NE(pQirTrf(&r.ucb), nullptr);
    EXPECT_TRUE(pQirTrf(&r.ucb)->fLast());
    EXPECT_EQ(pQirTrf(&r.ucb)->tiTmo(), YekTime(1, 500));
}

TEST(Qir, OtherTypesGoToVaq)
{
    Unmarshalled r = unmarshalled(proQir, bytes({0x06}));
    EXPECT_TRUE(r.fGood);
    EXPECT_NE(KVdepVaq100::pVaqInit(&r.ucb), nullptr);
    EXPECT_EQ(r.ucb.size(), 8u);

    for (int eType : {0, 2, 3, 5, 15, 255}) {
        r = unmarshalled(proQir, bytes({eType, 0, 0, 0, 0}));
        EXPECT_FALSE(r.fGood) << eType;
        EXPECT_EQ(r.sgErr, "yekpro_vaq 123") << eType;
        EXPECT_EQ(r.ucb.size(), 136u) << "nothing built for " << eType;
    }
}

TEST(Qir, ShortAnswerKeepsTheFieldsReadAndLeavesTheRestZero)
{
    Unmarshalled r = unmarshalled(proQir, bytes({0x0E, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0x05, 0, 0}));
    EXPECT_FALSE(r.fGood);
    EXPECT_EQ(r.sgErr, "wire 59");
    const QirInfoResp* pir = pQirInfoResp(&r.ucb);
    ASSERT_NE(pir, nullptr);
    EXPECT_EQ(pir->fStat(), 3u);
    EXPECT_EQ(pir->info().eArch(), 5u);
    EXPECT_EQ(pir->info().cIntr(), 0u);
    EXPECT_EQ(pir->info().fLinec(), 0u);
}

}  // namespace
