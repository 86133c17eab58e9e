// The moru messages: sizes, views, print forms, wire forms in both
// directions, unknown types and the signature.
#include "yekpro_moru.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <vector>

#include "wire_bytes.h"
#include "yekpro_puli.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;
using KVdepYek100::YekControl;
using KVdepYek100::YekControlBuf;

template <class T>
std::string printed(const T& m)
{
    std::ostringstream os;
    os << m;
    return os.str();
}

// Every field with a value of its own, so that order and widths show.
MoruConfig distinctConfig()
{
    MoruConfig m;
    m.cScale(0x01020304);
    m.fIgnFirst(0, 1);
    m.cLimit(0, 0x12345);
    m.cLimit(1, 0x0607);
    m.eFilt(0, 0x0809);
    m.eFilt(1, 0x0A0B);
    m.eEdge(0, 'f');
    m.eEdge(1, 'r');
    u32 u = 0x11;
    for (auto set : {&MoruConfig::_mpeFil, &MoruConfig::_mpeEna, &MoruConfig::_mpeArm, &MoruConfig::_mpeExc,
                     &MoruConfig::_mpeFiExc, &MoruConfig::_mpeFiArm, &MoruConfig::_mpeFiEna}) {
        (m.*set)[0] = u++;
        (m.*set)[1] = u++;
    }
    return m;
}

MoruSample exampleSample()
{
    MoruSample m;
    m.tiTmo(YekTime(1, 500000000));
    m.cFifo(2).cMax(0);
    m.iFifo(0, 6);
    m.iFifo(1, 7);
    return m;
}

MoruSampleResp exampleSampleResp()
{
    MoruSampleResp m;
    m.eErr(5);
    m.iErr(0x01020304);
    m.cSamples(3);
    m.iFifo(1);
    return m;
}

TEST(MoruMessages, SizesTypesAndFreshFields)
{
    struct Row {
        YekControlBuf ucb;
        int eType;
        size_t s;
    };
    std::vector<Row> mp;
    auto add = [&mp](const YekControl& uc, int e, size_t s) {
        Row r;
        r.ucb = uc;
        r.eType = e;
        r.s = s;
        mp.push_back(r);
    };
    add(MoruPulseConfig(), 4, 8);
    add(MoruSetTimer(), 5, 16);
    add(MoruInit(), 6, 8);
    add(MoruConfig(), 7, 100);
    add(MoruSample(), 8, 32);
    add(MoruStop(), 9, 8);
    add(MoruResp(), 10, 16);
    add(MoruSampleResp(), 11, 24);
    for (const Row& r : mp) {
        EXPECT_EQ(r.ucb.eType(), r.eType);
        EXPECT_EQ(r.ucb.size(), r.s) << r.eType;
        const char* pch = reinterpret_cast<const char*>(&r.ucb) + 8;
        EXPECT_EQ(std::string(pch, r.s - 8), std::string(r.s - 8, '\0')) << r.eType;
    }
    // A size given is kept; the type is whatever the caller says.
    EXPECT_EQ(MoruConfig(7, 40).size(), 40u);
    EXPECT_EQ(MoruSampleResp(11, 0).size(), 24u);
    EXPECT_EQ(MoruResp(11, 0).size(), 16u);
}

TEST(MoruMessages, SettersOfCountsChain)
{
    MoruConfig c;
    EXPECT_EQ(&c.cScale(7), &c);
    MoruSample s;
    EXPECT_EQ(&s.cFifo(2).cMax(9), &s);
    EXPECT_EQ(s.cFifo(), 2u);
    EXPECT_EQ(s.cMax(), 9u);
    s.tiTmo() = YekTime(3, 4);
    EXPECT_EQ(s.tiTmo().tv_sec, 3u);
}

TEST(MoruMessages, ViewsAcceptTheirTypes)
{
    struct View {
        const char* sz;
        std::function<bool(YekControl*)> pf;
        std::vector<int> mpe;
    };
    const std::vector<View> mp = {
        {"pMoruPulseConfig", [](YekControl* p) { return pMoruPulseConfig(p) != nullptr; }, {4}},
        {"pMoruSetTimer", [](YekControl* p) { return pMoruSetTimer(p) != nullptr; }, {5}},
        {"pMoruInit", [](YekControl* p) { return pMoruInit(p) != nullptr; }, {6}},
        {"pMoruConfig", [](YekControl* p) { return pMoruConfig(p) != nullptr; }, {7}},
        {"pMoruSample", [](YekControl* p) { return pMoruSample(p) != nullptr; }, {8}},
        {"pMoruStop", [](YekControl* p) { return pMoruStop(p) != nullptr; }, {9}},
        {"pMoruResp", [](YekControl* p) { return pMoruResp(p) != nullptr; }, {10, 11}},
        {"pMoruSampleResp", [](YekControl* p) { return pMoruSampleResp(p) != nullptr; }, {11}},
    };
    for (const View& v : mp) {
        for (int e = 0; e <= 12; ++e) {
            YekControlBuf ucb;
            ucb._eType = static_cast<uint32_t>(e);
            ucb._size = 24;
            bool fWant = std::find(v.mpe.begin(), v.mpe.end(), e) != v.mpe.end();
            EXPECT_EQ(v.pf(&ucb), fWant) << v.sz << " of type " << e;
        }
        EXPECT_FALSE(v.pf(nullptr)) << v.sz;
    }
    MoruSampleResp r;
    const YekControl* puc = &r;
    EXPECT_EQ(pMoruResp(puc), static_cast<const MoruResp*>(&r));
    MoruResp resp;
    EXPECT_EQ(pMoruSampleResp(static_cast<const YekControl*>(&resp)), nullptr);
}

TEST(MoruMessages, PrintForms)
{
    MoruConfig c;
    c.cScale(1);
    c.eEdge(0, 'f');
    c.eEdge(1, 'r');
    EXPECT_EQ(printed(c),
              "size=100 type=0x7 cScale=1 fIgnFirst= 0 0 cLimit= 0 0 eFilt= 0 0 eEdge= 102 114 eFil= 0 0 eEna= 0 0 "
              "eArm= 0 0 eExc= 0 0 eFiExc= 0 0 eFiArm= 0 0 eFiEna= 0 0");
    // Decimal whatever the header left the stream in.
    EXPECT_EQ(printed(distinctConfig()),
              "size=100 type=0x7 cScale=16909060 fIgnFirst= 1 0 cLimit= 74565 1543 eFilt= 2057 2571 eEdge= 102 114 "
              "eFil= 17 18 eEna= 19 20 eArm= 21 22 eExc= 23 24 eFiExc= 25 26 eFiArm= 27 28 eFiEna= 29 30");
    EXPECT_EQ(printed(exampleSample()), "size=32 type=0x8 tiTmo=1:500000000 cFifo=2 iFifo= 6 7 cMax=0");
    EXPECT_EQ(printed(exampleSampleResp()), "size=24 type=0xb eErr=5 iErr=16909060 cSamples=3 iFifo=1");
    MoruResp r;
    r.eErr(12);
    EXPECT_EQ(printed(r), "size=16 type=0xa eErr=12 iErr=0");
    MoruSetTimer st;
    st.ti(YekTime(2, 30));
    EXPECT_EQ(printed(st), "size=16 type=0x5 ti=2:30");
    EXPECT_EQ(printed(MoruPulseConfig()), "size=8 type=0x4");
    EXPECT_EQ(printed(MoruInit()), "size=8 type=0x6");
    EXPECT_EQ(printed(MoruStop()), "size=8 type=0x9");
}

struct WireCase {
    const char* sz;
    YekControlBuf ucb;     // what is marshalled
    std::string sgHex;     // its wire form
    YekControlBuf ucbBack;  // what reading the wire form gives
};

std::vector<WireCase> wireCases()
{
    std::vector<WireCase> mp;
    auto add = [&mp](const char* sz, const YekControl& uc, std::string sgHex, const YekControl* pucBack = nullptr) {
        WireCase w;
        w.sz = sz;
        w.ucb = uc;
        w.sgHex = std::move(sgHex);
        w.ucbBack = pucBack ? *pucBack : uc;
        mp.push_back(w);
    };
    add("empty config", MoruConfig(), "07" + std::string(60, '0'));
    MoruConfig cBack = distinctConfig();
    cBack.cLimit(0, 0x2345);  // the wire carries the low 16 bits
    MoruConfig c = distinctConfig();
    add("config", c, "07010203040100234506070809" "0a0b6672" "1112131415161718191a1b1c1d1e", &cBack);
    add("sample", exampleSample(), "08000000011dcd65000002000600070000");
    MoruSample sWide = exampleSample();
    sWide.cFifo(0x10001);
    MoruSample sWideBack = exampleSample();
    sWideBack.cFifo(1);
    add("sample with a wide count", sWide, "08000000011dcd65000001000600070000", &sWideBack);
    add("sample answer", exampleSampleResp(), "0b0000000501020304" "00030001");
    MoruResp r;
    r.eErr(0xA0B0C0D0);
    r.iErr(2);
    add("answer", r, "0aa0b0c0d000000002");
    MoruSetTimer st;
    st.ti(YekTime(2, 3));
    add("set timer", st, "050000000200000003");
    add("pulse config", MoruPulseConfig(), "04");
    add("init", MoruInit(), "06");
    add("stop", MoruStop(), "09");
    return mp;
}

TEST(MoruWire, MarshalledForms)
{
    for (const WireCase& w : wireCases()) {
        Failable fa;
        EXPECT_EQ(hex(marshalled(theMoru_moru_Proto, w.ucb, &fa)), w.sgHex) << w.sz;
        EXPECT_TRUE(fa.isGood()) << w.sz;
    }
    EXPECT_EQ(marshalled(theMoru_moru_Proto, MoruConfig()).size(), 31u);
}

TEST(MoruWire, ReadBackFromTheWire)
{
    for (const WireCase& w : wireCases()) {
        std::string sgWire;
        for (size_t k = 0; k < w.sgHex.size(); k += 2)
            sgWire += static_cast<char>(std::stoi(w.sgHex.substr(k, 2), nullptr, 16));
        YekControlBuf out;
        std::memset(out._mpch, 0x5A, sizeof out._mpch);
        size_t cLeft = 99;
        Failable fa = unmarshalled(theMoru_moru_Proto, sgWire, &out, &cLeft);
        EXPECT_TRUE(fa.isGood()) << w.sz << " " << text(fa);
        EXPECT_EQ(cLeft, 0u) << w.sz;
        EXPECT_TRUE(static_cast<const YekControl&>(out) == static_cast<const YekControl&>(w.ucbBack)) << w.sz;
    }
}

TEST(MoruWire, UnknownTypesAreRefused)
{
    for (int e : {12, 3, 0x80}) {
        YekControlBuf out;
        out = MoruStop();
        YekControlBuf before = out;
        Failable fa = unmarshalled(theMoru_moru_Proto, bytes({e, 0, 0, 0, 0}), &out);
        EXPECT_EQ(text(fa), "stat=fail (yekpro_moru) 353") << e;
        // Only the header the receiver read changed; nothing was built.
        EXPECT_EQ(std::memcmp(out._mpch, before._mpch, sizeof out._mpch), 0) << e;
    }
}

TEST(MoruWire, ShortInputFailsAndKeepsZeros)
{
    YekControlBuf out;
    Failable fa = unmarshalled(theMoru_moru_Proto, bytes({0x0b, 0, 0, 0, 5, 0, 0}), &out);
    EXPECT_TRUE(fa.isFail());
    const MoruSampleResp* pr = pMoruSampleResp(&out);
    ASSERT_NE(pr, nullptr);
    EXPECT_EQ(pr->size(), 24u);
    EXPECT_EQ(pr->eErr(), 5u);
    EXPECT_EQ(pr->cSamples(), 0u);
    EXPECT_EQ(pr->iFifo(), 0u);
}

TEST(MoruWire, CoreTypesGoToTheMessageCore)
{
    Failable fa;
    EXPECT_EQ(hex(marshalled(theMoru_moru_Proto, YekControl(2, 8), &fa)), "02");
    EXPECT_TRUE(fa.isGood());
    EXPECT_EQ(marshalled(theMoru_moru_Proto, YekControl(3, 8), &fa), "");
    EXPECT_EQ(text(fa), "stat=fail (yek) 179");
}

TEST(MoruProtocol, NameAndSignature)
{
    EXPECT_STREQ(theMoru_moru_Proto.szName(), "moru");
    const std::string sg = theMoru_moru_Proto.szProto();
    EXPECT_EQ(sg.size(), 375u);
    EXPECT_EQ(sg,
              "(/Int4:unsigned,Int4:unsigned/)(//(/Int4:u_int,Int4:u_int/))(//)(/Int2:unsigned,Int2:unsigned,"
              "Int2:unsigned/(/Int4:u_int,Int4:u_int/))(//)(/Int4:unsigned,Int1:unsigned,Int2:unsigned,Int2:unsigned,"
              "Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,"
              "Int1:unsigned/)(//)((/Int4:unsigned,Int4:unsigned/)/Int2:unsigned,Int2:unsigned/)");
    EXPECT_TRUE(theMoru_moru_Proto == Moru_moru_Proto());
    // A puli peer is no moru peer, whichever side it stands on.
    KVdepPuli100::Puli_puli_Proto puli;
    EXPECT_FALSE(theMoru_moru_Proto == puli);
    EXPECT_FALSE(puli == theMoru_moru_Proto);
    EXPECT_EQ(sg.substr(0, 66), std::string(puli.szProto()).substr(0, 66));
    EXPECT_NE(sg[66], puli.szProto()[66]);
}

}  // namespace
