// libmoru as an application uses it: the analyzer client, its modes and the
// protocol object from the shared library; the channels and the in-process
// analyzer server from the application's own build of the message layer.
#include <gtest/gtest.h>

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

}  // namespace
