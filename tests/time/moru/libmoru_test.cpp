// libmoru as an application uses it: the analyzer client, its modes and the
// protocol object from the shared library; the channels and the in-process
// analyzer server from the application's own build of the message layer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sstream>

#include "analyzer_server.h"
#include "fifo_lines.h"
#include "moru.h"
#include "wire_bytes.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;

TEST(Libmoru, MeasurementsOnBothTransports)
{
    for (bool fWire : {false, true}) {
        std::unique_ptr<Rig> prig = fWire ? makeWireRig() : makeLocalRig();
        ModeAvg avg(1000, 1, ti(2.0));
        ASSERT_EQ(prig->plex().callMoruConfig(&avg), 1) << fWire;
        prig->server().mpdqLines[0].push_back(FifoLines(false).at(10).at(10 + fracsPerSecond / 2).take());
        ASSERT_EQ(prig->plex().callMoruSample(&avg), 1) << fWire;
        EXPECT_TRUE(avg.isDone()) << fWire;
        EXPECT_DOUBLE_EQ(avg.rdFreq(), 2000.0) << fWire;

        ModePulseWidth w(0, 1, ti(1.0));
        ASSERT_EQ(prig->plex().callMoruConfig(&w), 1) << fWire;
        prig->server().mpdqLines[0].push_back(hitLine(100, false));
        prig->server().mpdqLines[1].push_back(hitLine(460, true));
        ASSERT_EQ(prig->plex().callMoruSample(&w), 1) << fWire;
        EXPECT_DOUBLE_EQ(w.rdPulseWidth(), 1e-6) << fWire;
        EXPECT_TRUE(prig->server().vsgBadWire.empty()) << fWire;
    }
}

TEST(Libmoru, ProtocolObjectAndTimeCore)
{
    EXPECT_STREQ(theMoru_moru_Proto.szName(), "moru");
    EXPECT_EQ(std::string(theMoru_moru_Proto.szProto()).size(), 375u);
    EXPECT_EQ(tc2n5.fractsPerEpoch(), 201326592);
    EXPECT_EQ(ticks(KVdepYek100::Time(1, 0), &tc2n5), 30000003u);
    MoruConfig c;
    EXPECT_EQ(hex(marshalled(theMoru_moru_Proto, c)), "07" + std::string(60, '0'));
}

// Lines decoded with the library's constructors, as an application's own
// scan of FIFO lines does.
TEST(Libmoru, DecodesFifoLines)
{
    const std::string sgHit = line(0x1234, 0x0F0, 0, fWrap, 0x030201);
    ScanLine sl(sgHit.data(), 1, 0, nullptr);
    EXPECT_EQ(sl.cEc(), 0x1234u);
    EXPECT_EQ(sl.cCt(), 0x030201u);
    EXPECT_TRUE(sl.isHit());
    ASSERT_EQ(sl.cFract(), 1);
    EXPECT_EQ(sl.iFract(sl.iOffs()), 4);
    ScanLine slFall(sgHit.data(), 0, 0, nullptr);
    EXPECT_EQ(slFall.iFract(0), 8);

    std::ostringstream os;
    const std::string sgOflow = line(0, 0, 0, fOflow | 7, 0);
    ScanLine slTrace(sgOflow.data(), 1, 0, &os);
    EXPECT_EQ(os.str(), "00000000.87000000 111.000000000000  SCAN OFLOW");
    EXPECT_EQ(slTrace.cFract(), 0);

    Fracts fr(1, 0xAAA, 1, 0);
    EXPECT_EQ(fr.cFract(), 5);
    EXPECT_EQ(fr.iFract(0), 2);
}

// What a program built against the library resolves: the constructors of
// the decoder by their symbols; the edge table they read and the line trace
// they write are not among them.
TEST(Libmoru, ExportsTheDecoderConstructorsAndNotTheirTable)
{
    void* pv = dlopen(KV_LIBMORU_FILE, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(pv, nullptr) << KV_LIBMORU_FILE << ": " << dlerror();
    struct Row {
        const char* szSymbol;
        bool fExported;
    };
    const Row mp[] = {
        {"_ZN12KVdepMoru1006FractsC1Eiiii", true},                  // Fracts(int, int, int, int)
        {"_ZN12KVdepMoru1008ScanLineC1EPKciiPSo", true},            // ScanLine(const char*, int, int, std::ostream*)
        {"_ZN12KVdepMoru1009aelRisingE", false},                    // the edge table
        {"_ZN12KVdepMoru1009traceLineERSoRKNS_8ScanLineE", false},  // the line trace
    };
    for (const Row& r : mp)
        EXPECT_EQ(dlsym(pv, r.szSymbol) != nullptr, r.fExported) << r.szSymbol;
    dlclose(pv);
}

}  // namespace
