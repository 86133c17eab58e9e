// The puli messages: sizes, views, print and wire forms, unknown types and
// the signature.
#include "yekpro_puli.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "wire_bytes.h"

namespace {

using namespace KVdepPuli100;
using namespace moru_test;
using KVdepYek100::YekControl;
using KVdepYek100::YekControlBuf;

const Puli_puli_Proto thePuli;

template <class T>
std::string printed(const T& m)
{
    std::ostringstream os;
    os << m;
    return os.str();
}

struct Case {
    const char* sz;
    YekControlBuf ucb;
    size_t s;
    std::string sgHex;
};

std::vector<Case> cases()
{
    std::vector<Case> mp;
    auto add = [&mp](const char* sz, const YekControl& uc, size_t s, std::string sgHex) {
        Case c;
        c.sz = sz;
        c.ucb = uc;
        c.s = s;
        c.sgHex = std::move(sgHex);
        mp.push_back(c);
    };
    add("pulse config", PuliPulseConfig(), 8, "04");
    PuliSetTimer st;
    st.ti(YekTime(1, 2));
    add("set timer", st, 16, "050000000100000002");
    add("init", PuliInit(), 8, "06");
    PuliConfig c;
    c.cScale(1000);
    add("config", c, 12, "07000003e8");
    PuliSample s;
    s.tiTmo(YekTime(0, 250000000));
    add("sample", s, 16, "08000000000ee6b280");
    add("stop", PuliStop(), 8, "09");
    PuliResp r;
    r.eErr(3);
    r.iErr(0x10203);
    add("answer", r, 16, "0a0000000300010203");
    return mp;
}

TEST(PuliMessages, SizesAndWireFormsOfEveryType)
{
    for (const Case& c : cases()) {
        EXPECT_EQ(c.ucb.size(), c.s) << c.sz;
        EXPECT_EQ(hex(marshalled(thePuli, c.ucb)), c.sgHex) << c.sz;
        EXPECT_EQ(c.ucb.eType() == 4 || c.ucb.eType() == 6 || c.ucb.eType() == 9, c.sgHex.size() == 2) << c.sz;

        std::string sgWire = marshalled(thePuli, c.ucb);
        YekControlBuf out;
        size_t cLeft = 99;
        Failable fa = unmarshalled(thePuli, sgWire, &out, &cLeft);
        EXPECT_TRUE(fa.isGood()) << c.sz;
        EXPECT_EQ(cLeft, 0u) << c.sz;
        EXPECT_TRUE(static_cast<const YekControl&>(out) == static_cast<const YekControl&>(c.ucb)) << c.sz;
    }
}

TEST(PuliMessages, PrintForms)
{
    EXPECT_EQ(printed(PuliPulseConfig()), "size=8 type=0x4");
    PuliConfig c;
    c.cScale(1000);
    EXPECT_EQ(printed(c), "size=12 type=0x7 cScale=1000");
    PuliResp r;
    r.eErr(3);
    r.iErr(0x10203);
    EXPECT_EQ(printed(r), "size=16 type=0xa eErr=3 iErr=66051");
    PuliSample s;
    s.tiTmo(YekTime(0, 250000000));
    EXPECT_EQ(printed(s), "size=16 type=0x8 tiTmo=0:250000000");
    PuliSetTimer st;
    st.ti(YekTime(1, 2));
    EXPECT_EQ(printed(st), "size=16 type=0x5 ti=1:2");
    EXPECT_EQ(printed(PuliInit()), "size=8 type=0x6");
    EXPECT_EQ(printed(PuliStop()), "size=8 type=0x9");
}

TEST(PuliMessages, ViewsAcceptTheirTypes)
{
    for (int e = 0; e <= 12; ++e) {
        YekControlBuf ucb;
        ucb._eType = static_cast<uint32_t>(e);
        ucb._size = 16;
        EXPECT_EQ(pPuliPulseConfig(&ucb) != nullptr, e == 4) << e;
        EXPECT_EQ(pPuliSetTimer(&ucb) != nullptr, e == 5) << e;
        EXPECT_EQ(pPuliInit(&ucb) != nullptr, e == 6) << e;
        EXPECT_EQ(pPuliConfig(&ucb) != nullptr, e == 7) << e;
        EXPECT_EQ(pPuliSample(&ucb) != nullptr, e == 8) << e;
        EXPECT_EQ(pPuliStop(&ucb) != nullptr, e == 9) << e;
        // There is no type 11 in puli: only 10 is an answer.
        EXPECT_EQ(pPuliResp(&ucb) != nullptr, e == 10) << e;
        EXPECT_EQ(pPuliResp(static_cast<const YekControl*>(&ucb)) != nullptr, e == 10) << e;
    }
    EXPECT_EQ(pPuliResp(static_cast<YekControl*>(nullptr)), nullptr);
}

TEST(PuliWire, UnknownTypesAndCoreTypes)
{
    for (int e : {11, 3}) {
        YekControlBuf out;
        YekControlBuf before = out;
        Failable fa = unmarshalled(thePuli, bytes({e, 0, 0, 0, 0, 0, 0, 0, 0}), &out);
        EXPECT_EQ(text(fa), "stat=fail (yekpro_puli) 269") << e;
        EXPECT_EQ(std::memcmp(out._mpch, before._mpch, sizeof out._mpch), 0) << e;
    }
    Failable fa;
    EXPECT_EQ(hex(marshalled(thePuli, YekControl(1, 8), &fa)), "01");
    EXPECT_TRUE(fa.isGood());
    EXPECT_EQ(marshalled(thePuli, YekControl(11, 8), &fa), "");
    EXPECT_EQ(text(fa), "stat=fail (yek) 179");
}

TEST(PuliProtocol, NameAndSignature)
{
    EXPECT_STREQ(thePuli.szName(), "puli");
    EXPECT_EQ(std::string(thePuli.szProto()),
              "(/Int4:unsigned,Int4:unsigned/)(//(/Int4:u_int,Int4:u_int/))(//)(//(/Int4:u_int,Int4:u_int/))(//)"
              "(/Int4:unsigned/)(//)");
    EXPECT_EQ(std::string(thePuli.szProto()).size(), 118u);
    EXPECT_TRUE(thePuli == Puli_puli_Proto());
}

}  // namespace
