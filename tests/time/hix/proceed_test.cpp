// One decoded FIFO line handed to an instance: overflow, the epoch watch,
// wraps and captures, and the log line each writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "stdapihix.h"
#include "tico.h"

namespace {

struct Line {
    char b[8];
};

Line line(unsigned cEc, unsigned fFlags, unsigned cClock = 0)
{
    unsigned mp[8] = {cEc & 0xFF, cEc >> 8 & 0xFF, 0, 0, fFlags, cClock & 0xFF, cClock >> 8 & 0xFF, cClock >> 16 & 0xFF};
    Line l;
    for (int i = 0; i < 8; ++i)
        l.b[i] = static_cast<char>(mp[i]);
    return l;
}

const unsigned ECAP = 0x18, WRAP = 0x08, FIRST = 0x10, EPOCH = 0x20, OFLOW = 0x80;

class Proceed : public ::testing::Test {
protected:
    void SetUp() override
    {
        inst.init(0, nullptr);
        inst.pcc(0).reset(0);
        inst.pcc(1).reset(0);
        inst._tmEpoch = 0;
    }
    int feed(int iChan, Line l)
    {
        KVdepMoru100::ScanLine sl(l.b, 1, 0, inst.pos());
        return inst.proceed(iChan, sl);
    }

    StdApiHixBurst inst;
};

TEST_F(Proceed, OverflowNamesTheChannel)
{
    EXPECT_EQ(feed(1, line(5, ECAP | OFLOW)), -1);
    EXPECT_STREQ(inst.szErr(), "fifo overflow");
    EXPECT_EQ(inst.iErr(), 1);
    EXPECT_EQ(inst.pcc(1).eState(), StdApiHixBurst::ChanCount::ceInit);  // not counted
}

TEST_F(Proceed, SecondEpochWithoutAHitIsATimeout)
{
    EXPECT_EQ(feed(0, line(0, EPOCH)), 0);
    EXPECT_EQ(inst._tmEpoch, 201326592);
    EXPECT_EQ(feed(0, line(0, EPOCH)), -1);
    EXPECT_STREQ(inst.szErr(), "timeout");
    EXPECT_EQ(inst.iErr(), 0);
}

TEST_F(Proceed, HitsOnEitherChannelRestartTheEpochWatch)
{
    for (unsigned f : {WRAP, FIRST, ECAP}) {
        SetUp();
        EXPECT_EQ(feed(0, line(0, EPOCH)), 0);
        EXPECT_EQ(feed(1, line(65535, f)), 0) << f;
        EXPECT_EQ(inst._tmEpoch, 0) << f;
        EXPECT_EQ(feed(0, line(0, EPOCH)), 0) << f;
    }
    // Epoch marks of channel 1 are not watched.
    SetUp();
    EXPECT_EQ(feed(1, line(0, EPOCH)), 0);
    EXPECT_EQ(feed(1, line(0, EPOCH)), 0);
    EXPECT_EQ(inst._tmEpoch, 0);
}

TEST_F(Proceed, EpochAndCaptureInOneLineAfterAnEpochIsATimeoutFirst)
{
    EXPECT_EQ(feed(0, line(0, EPOCH)), 0);
    EXPECT_EQ(feed(0, line(100, EPOCH | ECAP)), -1);
    EXPECT_STREQ(inst.szErr(), "timeout");
    EXPECT_EQ(inst.pcc(0).eState(), StdApiHixBurst::ChanCount::ceInit);
}

TEST_F(Proceed, FirstLinesCountAsWraps)
{
    EXPECT_EQ(feed(0, line(60000, ECAP)), 0);
    EXPECT_EQ(feed(0, line(65535, FIRST)), 0);
    EXPECT_EQ(feed(0, line(200, ECAP)), 0);
    EXPECT_EQ(inst.pcc(0).c(), 5735);
}

TEST(ProceedLog, TraceThenCountThenCounter)
{
    std::ostringstream os;
    StdApiHixBurst inst;
    inst.init(0, &os);
    inst.pcc(0).reset(0);
    Line l1 = line(250, ECAP, 15000), l2 = line(0, EPOCH), l3 = line(0, EPOCH);
    KVdepMoru100::ScanLine s1(l1.b, 1, 0, &os);
    inst.proceed(0, s1);
    KVdepMoru100::ScanLine s2(l2.b, 1, 0, &os);
    inst.proceed(0, s2);
    KVdepMoru100::ScanLine s3(l3.b, 1, 0, &os);
    inst.proceed(0, s3);
    EXPECT_EQ(os.str(),
              "fa000000.18983a00 000.000000000000  ECAP 250 s=1 c=-1 p=250 w=0\n"
              "00000000.20000000 000.000000000000  EPOCH\n"
              "00000000.20000000 000.000000000000  EPOCH\n"
              "[0] proceed -> stat=fail (timeout) 0\n");
}

}  // namespace
