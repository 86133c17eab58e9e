#include "yekpro_vaq.h"

#include "wire_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

using namespace KVdepVaq100;
using KVdepYek100::YekControlBuf;
using KVdepYek100::YekProto;
using wire_test::bytes;
using wire_test::marshalled;

namespace {

const Vaq_vaq_Proto proVaq;

// What the kernel driver does on receive: type byte into a header, then the
// protocol builds the message in the receive area (here the header itself).
xistream& unmarshalled(xistream& xi, YekControlBuf* pucb)
{
    KVdepYek100::xunmarsh(xi, *pucb);
    return proVaq.unmarsh(xi, *pucb, pucb);
}

TEST(Vaq, ProtocolObject)
{
    Vaq_vaq_Proto pro;
    EXPECT_STREQ(pro.szName(), "vaq");
    EXPECT_STREQ(pro.szProto(), "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)");
    EXPECT_EQ(std::strlen(pro.szProto()), 44u);
    EXPECT_TRUE(pro == Vaq_vaq_Proto());
    // A protocol that begins with the vaq signature serves vaq clients.
    std::string sgExt = std::string(pro.szProto()) + "(/Int4:u_int/)";
    YekProto ext(sgExt.c_str(), "ext");
    EXPECT_TRUE(ext == pro);
    EXPECT_FALSE(pro == ext);
}

TEST(Vaq, MessagesAndViews)
{
    VaqResp r;
    EXPECT_EQ(r.eType(), 4);
    EXPECT_EQ(r.size(), 20u);
    EXPECT_EQ(r.eErr() + r.iErr() + r.fStat(), 0u);
    EXPECT_EQ(VaqResp(4, 24).size(), 24u);
    VaqInit i;
    EXPECT_EQ(i.eType(), 6);
    EXPECT_EQ(i.size(), 8u);

    EXPECT_EQ(pVaqResp(&r), &r);
    EXPECT_EQ(pVaqResp(&i), nullptr);
    EXPECT_EQ(pVaqInit(&i), &i);
    EXPECT_EQ(pVaqInit(&r), nullptr);
    const YekControl& ucr = r;
    EXPECT_EQ(pVaqResp(&ucr), &r);
    EXPECT_EQ(pVaqResp(static_cast<YekControl*>(nullptr)), nullptr);
}

TEST(Vaq, PrintFormsAreDecimalAfterTheHexHeader)
{
    std::ostringstream os;
    os << VaqResp().eErr(0).iErr(5).fStat(17);
    EXPECT_EQ(os.str(), "size=20 type=0x4 eErr=0 iErr=5 fStat=17");
    std::ostringstream osInit;
    osInit << VaqInit() << ' ' << 10;
    EXPECT_EQ(osInit.str(), "size=8 type=0x6 a");
}

TEST(Vaq, WireForms)
{
    struct Case {
        const char* what;
        YekControlBuf ucb;
        std::string out;
    } cases[] = {
        {"resp", YekControlBuf() = VaqResp().eErr(1).iErr(0x01020304).fStat(0),
         bytes({0x04, 0, 0, 0, 1, 1, 2, 3, 4, 0, 0, 0, 0})},
        {"init", YekControlBuf() = VaqInit(), bytes({0x06})},
        {"core type 2 is written", YekControlBuf() = YekControl(2, 8), bytes({0x02})},
        {"type 3 goes to the core", YekControlBuf() = YekControl(3, 8), "failed yek 179"},
        {"type 7 is not vaq's", YekControlBuf() = YekControl(7, 8), "failed yek 179"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(marshalled(proVaq, c.ucb), c.out) << c.what;
}

TEST(Vaq, MarshalThenUnmarshalGivesTheSameMessage)
{
    VaqResp r;
    r.eErr(0xFFFFFFFF).iErr(0x80000001).fStat(0x1234);
    VaqInit i;
    for (const YekControl* puc : {static_cast<const YekControl*>(&r), static_cast<const YekControl*>(&i)}) {
        std::stringbuf sb(marshalled(proVaq, *puc));
        xistream xi(&sb);
        YekControlBuf ucb;
        unmarshalled(xi, &ucb);
        EXPECT_TRUE(xi.isGood());
        EXPECT_EQ(xi.isInAvail(), 0) << "every byte consumed";
        EXPECT_TRUE(ucb == *puc) << ucb;
    }
}

TEST(Vaq, UnmarshalOfInitReadsNothingBehindTheType)
{
    std::stringbuf sb(bytes({0x06, 0x99}));
    xistream xi(&sb);
    YekControlBuf ucb;
    unmarshalled(xi, &ucb);
    EXPECT_TRUE(xi.isGood());
    EXPECT_EQ(ucb.eType(), 6);
    EXPECT_EQ(ucb.size(), 8u);
    EXPECT_EQ(sb.sgetc(), 0x99);
}

TEST(Vaq, UnknownTypesFailTheStreamAndLeaveTheAreaAlone)
{
    for (int eType : {0, 1, 2, 3, 5, 7, 255}) {
        std::stringbuf sb(bytes({eType, 1, 2, 3, 4}));
        xistream xi(&sb);
        YekControlBuf ucb;
        unmarshalled(xi, &ucb);
        EXPECT_FALSE(xi.isGood()) << eType;
        EXPECT_STREQ(xi.szErr(), "yekpro_vaq");
        EXPECT_EQ(xi.iErr(), 123);
        EXPECT_EQ(ucb.size(), 136u) << "nothing built";
        EXPECT_EQ(ucb.eType(), eType);
    }
}

TEST(Vaq, ShortAnswerKeepsTheFieldsReadSoFar)
{
    std::stringbuf sb(bytes({0x04, 0, 0, 0, 9, 0, 0}));
    xistream xi(&sb);
    YekControlBuf ucb;
    unmarshalled(xi, &ucb);
    EXPECT_FALSE(xi.isGood());
    EXPECT_STREQ(xi.szErr(), "wire");
    const VaqResp* pr = pVaqResp(&ucb);
    ASSERT_NE(pr, nullptr);
    EXPECT_EQ(pr->eErr(), 9u);
    EXPECT_EQ(pr->iErr(), 0u);
    EXPECT_EQ(pr->fStat(), 0u);
}

}  // namespace
