// The dino protocol: messages, views, print and wire forms, the protocol object.
#include "yekpro_dino.h"

#include "wire_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>

using namespace KVdepDino100;
using KVdepYek100::YekControlBuf;
using namespace wire_test;

namespace {

const Dino_dino_Proto proDino;

TEST(Dino, ProtocolObject)
{
    EXPECT_STREQ(proDino.szName(), "dino");
    EXPECT_STREQ(proDino.szProto(),
                 "(/Int4:unsigned,Int4:unsigned/)((/Int4:unsigned,Int4:unsigned/)/Int1:unsigned,Int2:unsigned/)"
                 "(//)(//(/Int4:u_int,Int4:u_int/))");
    EXPECT_EQ(std::strlen(proDino.szProto()), 126u);
}

TEST(Dino, MessagesHaveTheirTypesSizesAndZeroFields)
{
    struct Case {
        YekControlBuf ucb;
        int eType;
        size_t s;
    } cases[] = {
        {YekControlBuf() = DinoResp(4, 0), 4, 16},
        {YekControlBuf() = DinoOpenResp(5, 0), 5, 24},
        {YekControlBuf() = DinoOpen(6, 0), 6, 8},
        {YekControlBuf() = DinoSync(7, 0), 7, 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ucb.eType(), c.eType);
        EXPECT_EQ(c.ucb.size(), c.s) << c.eType;
        for (size_t k = sizeof(YekControl); k < c.s; ++k)
            EXPECT_EQ(reinterpret_cast<const unsigned char*>(&c.ucb)[k], 0) << c.eType << " byte " << k;
    }
    // Setters chain.
    DinoOpenResp r;
    r.fBit(0x20).iByte(2);
    EXPECT_EQ(r.fBit(), 0x20u);
    EXPECT_EQ(r.iByte(), 2u);
    EXPECT_EQ(static_cast<DinoResp&>(r).eErr(3).iErr(4).iErr(), 4u);
}

TEST(Dino, ViewsAcceptTheirClassAndItsDerivedClasses)
{
    struct Case {
        const char* view;
        std::function<const void*(YekControl*)> pf;
        std::initializer_list<int> accepted;
    } cases[] = {
        {"pDinoResp", [](YekControl* p) -> const void* { return pDinoResp(p); }, {4, 5}},
        {"pDinoOpenResp", [](YekControl* p) -> const void* { return pDinoOpenResp(p); }, {5}},
        {"pDinoOpen", [](YekControl* p) -> const void* { return pDinoOpen(p); }, {6}},
        {"pDinoSync", [](YekControl* p) -> const void* { return pDinoSync(p); }, {7}},
    };
    for (const Case& c : cases) {
        std::string sgAccepted, sgWant;
        for (int e = 0; e <= 10; ++e) {
            YekControl uc(e, 8);
            if (c.pf(&uc) == &uc)
                sgAccepted += std::to_string(e) + " ";
        }
        for (int e : c.accepted)
            sgWant += std::to_string(e) + " ";
        EXPECT_EQ(sgAccepted, sgWant) << c.view;
        EXPECT_EQ(c.pf(nullptr), nullptr) << c.view;
    }
    const DinoOpenResp ror;
    const DinoResp rr;
    EXPECT_EQ(pDinoResp(static_cast<const YekControl*>(&ror)), &ror);
    EXPECT_EQ(pDinoOpenResp(static_cast<const YekControl*>(&rr)), nullptr);
}

TEST(Dino, PrintForms)
{
    EXPECT_EQ(printed(DinoResp().eErr(1).iErr(2)), "size=16 type=0x4 eErr=1 iErr=2");
    EXPECT_EQ(printed(DinoOpenResp().fBit(32).iByte(12)), "size=24 type=0x5 eErr=0 iErr=0 fBit=32 iByte=12");
    EXPECT_EQ(printed(DinoOpen()), "size=8 type=0x6");
    EXPECT_EQ(printed(DinoSync()), "size=16 type=0x7 tiTmo=0:0");
    EXPECT_EQ(printed(DinoSync().tiTmo(KVdepYek100::Time(12, 5))), "size=16 type=0x7 tiTmo=12:5");
}

TEST(Dino, WireFormsAndBack)
{
    struct Case {
        YekControlBuf ucb;
        std::string sgWire;
    } cases[] = {
        {YekControlBuf() = DinoResp().eErr(0x01020304).iErr(9), bytes({4, 1, 2, 3, 4, 0, 0, 0, 9})},
        {YekControlBuf() = static_cast<DinoOpenResp&>(DinoOpenResp().fBit(0x20).iByte(2)),
         bytes({5, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 2})},
        {YekControlBuf() = DinoOpen(), bytes({6})},
        {YekControlBuf() = DinoSync().tiTmo(KVdepYek100::Time(1, 0x0A0B0C0D)), bytes({7, 0, 0, 0, 1, 10, 11, 12, 13})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ucb.eType());
        EXPECT_EQ(marshalled(proDino, c.ucb), c.sgWire);
        Unmarshalled u = unmarshalled(proDino, c.sgWire);
        EXPECT_EQ(u.sgErr, "");
        EXPECT_TRUE(u.fAllRead);
        EXPECT_EQ(u.ucb.size(), c.ucb.size());
        EXPECT_EQ(std::memcmp(&u.ucb, &c.ucb, c.ucb.size()), 0);
    }
    // An open is its type byte alone: nothing behind it is read.
    Unmarshalled u = unmarshalled(proDino, bytes({6, 0x55}));
    EXPECT_EQ(u.sgErr, "");
    EXPECT_NE(pDinoOpen(&u.ucb), nullptr);
    EXPECT_FALSE(u.fAllRead);
}

TEST(Dino, CoreAndUnknownTypes)
{
    // A core message goes out through the message core ...
    YekControl ucCore(1, 8);
    EXPECT_EQ(marshalled(proDino, ucCore).substr(0, 1), bytes({1}));
    // ... but nothing outside 4 to 7 comes in.
    for (int e : {0, 1, 2, 3, 8, 10}) {
        Unmarshalled u = unmarshalled(proDino, bytes({e, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(u.sgErr, "yekpro_dino 169") << e;
        EXPECT_EQ(u.ucb.eType(), e) << "nothing is built";
    }
    // A short stream fails with the wire module's status.
    EXPECT_NE(unmarshalled(proDino, bytes({5, 0, 0})).sgErr, "");
}

}  // namespace
