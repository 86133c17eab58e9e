// The analyzer client against the in-process analyzer server, on both
// transports: what goes on the wire, how answers reach the modes, the
// server's refusals and wrong answers, exchanges that cannot finish, and
// whole measurements with results worked out by hand.
#include "moru.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "analyzer_server.h"
#include "fifo_lines.h"
#include "wire_bytes.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;

class Client : public ::testing::TestWithParam<bool> {
protected:
    Client() : _prig(GetParam() ? makeWireRig() : makeLocalRig()) {}

    void TearDown() override
    {
        // Every request decoded by the server's tables, every answer read
        // back by the client's protocol.
        EXPECT_TRUE(server().vsgBadWire.empty()) << hex(server().vsgBadWire.front());
        EXPECT_FALSE(plex()._fRun);
        // No answer left behind for the next exchange.
        EXPECT_EQ(_prig->puc()->peekDown(), nullptr);
    }

    bool isWire() const { return GetParam(); }
    AnalyzerScript& server() { return _prig->server(); }
    MoruPlex& plex() { return _prig->plex(); }

    std::unique_ptr<Rig> _prig;
};

TEST_P(Client, ConfigurationOnTheWire)
{
    ModeAvg avg(100000, 10, ti(2.5));
    EXPECT_EQ(plex().callMoruConfig(&avg), 1);
    ModeTotalCount tot(0, 4, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&tot), 1);
    ModePulse pulse(0, 4, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&pulse), 1);

    ASSERT_EQ(server().requestTypes(), (std::vector<int>{7, 7, 7}));
    std::vector<uint32_t> mpAvg(cfg::cFields, 0);
    mpAvg[cfg::cScale] = 25000;
    mpAvg[cfg::cLimit] = 11;
    mpAvg[cfg::eEdge] = 'f';
    mpAvg[cfg::eEdge + 1] = 'r';
    EXPECT_EQ(server().vrq[0].mpu, mpAvg);
    std::vector<uint32_t> mpTot(cfg::cFields, 0);
    mpTot[cfg::cScale] = 32767;
    mpTot[cfg::fIgnFirst] = 1;
    mpTot[cfg::eEdge] = 'f';
    mpTot[cfg::eEdge + 1] = 'r';
    EXPECT_EQ(server().vrq[1].mpu, mpTot);
    EXPECT_EQ(server().vrq[2].mpu[cfg::cScale], 1u);
    EXPECT_EQ(server().vrq[2].mpu[cfg::cLimit], 0u);
    EXPECT_EQ(server().vrq[0].sgData, "");
    // init ran: the time-out in fraction units.
    EXPECT_EQ(avg._tmTmo, 900000084);
    EXPECT_EQ(avg.ptc(), &tc2n5);
}

TEST_P(Client, OneFifoSample)
{
    ModeAvg m(1000, 0, ti(2.5));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100, 100 + fracsPerSecond}));
    EXPECT_EQ(plex().callMoruSample(&m), 1);
    ASSERT_EQ(server().requestTypes(), (std::vector<int>{7, 8}));
    EXPECT_EQ(server().vrq[1].mpu, (std::vector<uint32_t>{2, 500000000, 1, 6, 7, 0}));
    EXPECT_EQ(server().vrq[1].sgData, "");
    EXPECT_EQ(m.cSamp(), 1u);
    EXPECT_DOUBLE_EQ(m.rdFreq(), 1000.0);
}

TEST_P(Client, TwoFifoSampleFeedsEachAnswerToItsFifo)
{
    for (bool fSwap : {false, true}) {
        ModePulseWidth m(0, 2, ti(1.0));
        ASSERT_EQ(plex().callMoruConfig(&m), 1);
        server().fSwap = fSwap;
        server().mpdqLines[0].push_back(leading({100, 1000}));
        server().mpdqLines[1].push_back(trailing({136, 1360}));
        EXPECT_EQ(plex().callMoruSample(&m), 1) << fSwap;
        EXPECT_EQ(server().vrq.back().mpu, (std::vector<uint32_t>{1, 0, 2, 6, 7, 0})) << fSwap;
        EXPECT_TRUE(m.isDone()) << fSwap;
        EXPECT_DOUBLE_EQ(m.rdPulseWidth(), 36 / 360e6) << fSwap;
        EXPECT_DOUBLE_EQ(m.rdPulseWidth(), 360 / 360e6) << fSwap;
    }
}

TEST_P(Client, RefusedConfigurationFailsTheMode)
{
    server().eErrConfig = 5;
    ModeAvg m(1, 0, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (MoruResp) 5");
    EXPECT_EQ(plex().isGood(), true);
}

TEST_P(Client, RefusedSampleFailsTheModeAndTakesEveryAnswer)
{
    server().mpeErrSample[0] = 5;
    ModePulse m(0, 0, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100, 200}));
    server().mpdqLines[1].push_back(trailing({150}));
    EXPECT_EQ(plex().callMoruSample(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (MoruResp) 5");
    // The data of a refused answer is not looked at, nor is any after it.
    EXPECT_EQ(m.cSamp(), 0u);
    EXPECT_TRUE(m.dqTimes(ModeDual::TE).empty());

    // The failed mode still runs its exchange and decodes nothing.
    server().mpeErrSample[0] = 0;
    server().mpdqLines[0].push_back(leading({300}));
    EXPECT_EQ(plex().callMoruSample(&m), 0);
    EXPECT_EQ(server().requestTypes(), (std::vector<int>{7, 8, 8}));
    EXPECT_TRUE(m.dqTimes(ModeDual::LE).empty());

    // The second FIFO's refusal comes after the first's lines.
    server().mpeErrSample[1] = 9;
    ModePulse m2(0, 0, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m2), 1);
    server().mpdqLines[0].push_back(leading({100, 200}));
    EXPECT_EQ(plex().callMoruSample(&m2), 0);
    EXPECT_EQ(text(m2), "stat=fail (MoruResp) 9");
    EXPECT_EQ(m2.dqTimes(ModeDual::LE).size(), 2u);
}

TEST_P(Client, AnswersOfAnotherTypeFailTheMode)
{
    server().eTypeWrong = eMoruStop;
    ModeAvg m(1, 0, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (unexpected response) 9");

    // A plain answer where sample answers belong, for both FIFOs.
    server().eTypeWrong = eMoruResp;
    ModePulseWidth w(0, 0, ti(1.0));
    w.init(&tc2n5);
    server().mpdqLines[0].push_back(leading({100}));
    EXPECT_EQ(plex().callMoruSample(&w), 0);
    EXPECT_EQ(text(w), "stat=fail (unexpected response) 10");
    EXPECT_EQ(server().requestTypes(), (std::vector<int>{7, 8}));

    // A sample answer is an answer to a configuration.
    server().eTypeWrong = eMoruSampleResp;
    ModeAvg m2(1, 0, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&m2), 1);
}

TEST_P(Client, AnswerWithoutDataLeavesTheModeAsItWas)
{
    ModeAvg m(1, 0, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100}));
    ASSERT_EQ(plex().callMoruSample(&m), 1);
    EXPECT_EQ(plex().callMoruSample(&m), 1);
    EXPECT_TRUE(m.isGood());
    EXPECT_EQ(m._dqTimes.size(), 1u);
    EXPECT_EQ(m._tmLim, 100 + 360000036);
}

TEST_P(Client, FifoPositionsOfTheServerAreChecked)
{
    // A server that names the FIFO by its identifier, not its position.
    server().iFifoOffset = 6;
    ModeAvg m(1, 0, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100}));
    EXPECT_EQ(plex().callMoruSample(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (fifo index out of range) 6");
}

TEST_P(Client, ConfigurationAgainRecomputesAndKeepsResults)
{
    ModeAvg m(1000, 0, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100, 200}));
    ASSERT_EQ(plex().callMoruSample(&m), 1);
    m._cScale = 65534;
    m._tiTmo = ti(20.0);
    EXPECT_EQ(plex().callMoruConfig(&m), 1);
    EXPECT_EQ(m.tc().cScale(), 21844u);
    EXPECT_EQ(m._cRep, 3u);
    EXPECT_EQ(m._tmTmo, 7200000720);
    EXPECT_EQ(m._dqTimes.size(), 2u);
    EXPECT_EQ(server().vrq.back().mpu[cfg::cScale], 21844u);
}

TEST_P(Client, SetUpTheModeRefusesIsNotSent)
{
    ModeAvg mZero(0, 0, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&mZero), 0);
    EXPECT_EQ(text(mZero), "stat=fail (averaging factor 0) 0");
    ModePulse mLong(0, 0, ti(40.0));
    EXPECT_EQ(plex().callMoruConfig(&mLong), 0);
    EXPECT_EQ(text(mLong), "stat=fail (timeout out of range) 40");
    EXPECT_TRUE(server().vrq.empty());
    EXPECT_EQ(plex().callMoruConfig(nullptr), 0);
    EXPECT_EQ(plex().callMoruSample(nullptr), 0);
}

TEST_P(Client, SampleBeforeConfigurationFailsTheMode)
{
    ModeAvg m(1, 0, ti(1.0));
    server().mpdqLines[0].push_back(leading({100}));
    EXPECT_EQ(plex().callMoruSample(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (mode not configured) 0");
}

TEST_P(Client, SilentServer)
{
    server().fSilent = true;
    ModeAvg m(1, 0, ti(1.0));
    EXPECT_EQ(plex().callMoruConfig(&m), 0);
    if (isWire()) {
        // The receive finds nothing: the connection is gone.
        EXPECT_EQ(text(m), "stat=fail (exchange failed) " + std::to_string(ERROR_DEVICE_NOT_CONNECTED));
    } else {
        EXPECT_EQ(text(m), "stat=fail (exchange not finished) 0");
        // The plexer is ready for the next exchange.
        server().fSilent = false;
        ModeAvg m2(1, 0, ti(1.0));
        EXPECT_EQ(plex().callMoruConfig(&m2), 1);
        server().mpdqLines[0].push_back(leading({100}));
        EXPECT_EQ(plex().callMoruSample(&m2), 1);
        EXPECT_EQ(m2._dqTimes.size(), 1u);
    }
}

TEST_P(Client, MeasurementOfAFrequency)
{
    // 1000 periods an interval, three intervals: 1 kHz, then 2 kHz, then
    // 1 kHz again; the server hands the stamps out two at a time.
    ModeAvg m(1000, 3, ti(2.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    const int64_t t0 = 4321;
    server().mpdqLines[0].push_back(leading({t0, t0 + fracsPerSecond}));
    // The second answer goes on from the first: its epoch lines only.
    FifoLines fl(false);
    fl.at(t0).at(t0 + fracsPerSecond).take();
    fl.at(t0 + fracsPerSecond + fracsPerSecond / 2).at(t0 + 2 * fracsPerSecond + fracsPerSecond / 2);
    server().mpdqLines[0].push_back(fl.take());
    int cCall = 0;
    while (plex().callMoruSample(&m) && !m.isDone())
        ++cCall;
    EXPECT_EQ(cCall, 1);
    ASSERT_TRUE(m.isGood());
    ASSERT_EQ(m.cSamp(), 3u);
    EXPECT_DOUBLE_EQ(m.rdFreq(), 1000.0);
    EXPECT_DOUBLE_EQ(m.rdFreq(), 2000.0);
    EXPECT_DOUBLE_EQ(m.rdPeriod(), 0.001);
    EXPECT_EQ(m.cSamp(), 0u);
}

TEST_P(Client, MeasurementOfPulses)
{
    // A 100 Hz signal, high a third of its period.
    ModePulse m(0, 2, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({0, 3600000, 7200000}));
    server().mpdqLines[1].push_back(trailing({1200000, 4800000}));
    EXPECT_EQ(plex().callMoruSample(&m), 1);
    ASSERT_TRUE(m.isDone());
    for (int k = 0; k < 2; ++k) {
        std::pair<double, double> pr = m.pardPulse();
        EXPECT_DOUBLE_EQ(pr.first, 1.0 / 300) << k;
        EXPECT_DOUBLE_EQ(pr.second, 1.0 / 150) << k;
    }
    EXPECT_EQ(m.pardPulse(), std::make_pair(0.0, 0.0));
}

TEST_P(Client, MeasurementOfTotals)
{
    ModeTotalCount m(0, 2, ti(1.0));
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(flagLine(fArm, 7) + hitLine(5, false) + hitLine(9, false));
    server().mpdqLines[0].push_back(flagLine(fEpoch) + hitLine(3, false) + flagLine(fArm, 40));
    ASSERT_EQ(plex().callMoruSample(&m), 1);
    EXPECT_FALSE(m.isDone());
    ASSERT_EQ(plex().callMoruSample(&m), 1);
    EXPECT_TRUE(m.isDone());
    Counter ct0 = m.count();
    Counter ct1 = m.count();
    EXPECT_EQ(ct0, 7);
    EXPECT_EQ(ct1, 3 * 32767 + 40);
    EXPECT_EQ(ct1 - ct0, 98334);
}

TEST_P(Client, TraceOfTheLinesThroughTheClient)
{
    ModeAvg m(1, 0, ti(1.0));
    std::ostringstream os;
    m._pos = &os;
    ASSERT_EQ(plex().callMoruConfig(&m), 1);
    server().mpdqLines[0].push_back(leading({100}));
    ASSERT_EQ(plex().callMoruSample(&m), 1);
    EXPECT_EQ(os.str(), "scale: 1 1 1\n0000000f.0f080000 111.111100000000  WRAP 8  96 4 100\n");
}

INSTANTIATE_TEST_SUITE_P(Transports, Client, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Wire" : "Local"; });

TEST(ClientWire, TransferThatFailsMidExchange)
{
    std::unique_ptr<Rig> prig = makeWireRig();
    WireIo& io = static_cast<WireIo&>(prig->server());
    ModePulseWidth m(0, 0, ti(1.0));
    ASSERT_EQ(prig->plex().callMoruConfig(&m), 1);
    io.mpdqLines[0].push_back(leading({100}));
    io.mpdqLines[1].push_back(trailing({200}));
    io.cRecvToFail = 2;
    EXPECT_EQ(prig->plex().callMoruSample(&m), 0);
    EXPECT_EQ(text(m), "stat=fail (exchange failed) " + std::to_string(ERROR_DEVICE_NOT_CONNECTED));
    // The first answer reached the mode; the plexer is idle again.
    EXPECT_EQ(m.dqTimes(ModeDual::LE).size(), 1u);
    EXPECT_FALSE(prig->plex()._fRun);
    EXPECT_FALSE(prig->plex().isRunning());
    // The connection stays broken: later exchanges fail the same way.
    ModeAvg m2(1, 0, ti(1.0));
    EXPECT_EQ(prig->plex().callMoruConfig(&m2), 0);
    EXPECT_EQ(text(m2), "stat=fail (exchange failed) " + std::to_string(ERROR_DEVICE_NOT_CONNECTED));
}

TEST(ClientDeath, BrokenInvariants)
{
    ModeAvg m(1, 0, ti(1.0));
    EXPECT_DEATH(MoruConfigClientFunc(0, &m, &tc2n5).func(3), "Assertion failed: 0, file moru, line 36");
    EXPECT_DEATH(MoruSampleClientFunc(0, nullptr, &tc2n5).func(0), "Assertion failed: _ptm, file moru, line 152");
    EXPECT_DEATH(MoruSampleClientFunc(0, &m, &tc2n5).func(5), "Assertion failed: 0, file moru, line 190");
    // A run from inside a run.
    EXPECT_DEATH(
        {
            std::unique_ptr<Rig> prig = makeLocalRig();
            MoruPlex& plex = prig->plex();
            ModeAvg mNested(1, 0, ti(1.0));
            prig->server().onRequest = [&](const WireMsg&) { plex.callMoruSample(&mNested); };
            plex.callMoruConfig(&mNested);
        },
        "Assertion failed: !_fRun, file moru, line 402");
}

}  // namespace
