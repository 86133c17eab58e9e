// Opening and closing the channels of a PCI board: the board's open rules
// with their refusal codes, the protocol driver's start at the first open
// and its stop at the last close, a channel the card object does not have,
// the protocol check and the read text.
#include <gtest/gtest.h>

#include "pci_support.h"

namespace {

using drvtest::Bufs;
using drvtest::PciTest;
using drvtest::pioKnobs;
using drvtest::pioSeen;

class PciOpenTest : public PciTest {
protected:
    void SetUp() override { plugAndLoad(); }
};

TEST_F(PciOpenTest, ChannelsOfTheDriverOpenOnceAndTheLastCloseStopsIt)
{
    HANDLE h0 = openOk("\\pio\\0");
    EXPECT_EQ(pioSeen().cInit, 1u) << "the first open starts the driver";
    HANDLE h1 = openOk("\\pio\\1");
    EXPECT_EQ(pioSeen().cInit, 1u);
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\pio\\0"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (next) 0 0 -3"));
    EXPECT_EQ(open(&h, "\\pio\\2"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (next) 0 2 -2"));
    close(h0);
    EXPECT_EQ(pioSeen().cFini, 0u);
    close(h1);
    EXPECT_EQ(pioSeen().cFini, 1u) << "the last close stops the driver";
    EXPECT_TRUE(boardLogs("close, cOpen=1"));
    openOk("\\pio\\1");
    EXPECT_EQ(pioSeen().cInit, 2u);
}

TEST_F(PciOpenTest, FirstOpenOfAChannelNotOfTheDriverIsRefused)
{
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\pio\\2"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (first) 0 2 -1"));
    EXPECT_EQ(open(&h, "\\pio\\x"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (first) 0 72 -1"));
    EXPECT_EQ(pioSeen().cInit, 0u);
    openOk("\\pio\\0");
}

TEST_F(PciOpenTest, DriverThatDoesNotStartLeavesTheBoardAsItWas)
{
    pioKnobs().iInitResult = 5;
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\pio\\0"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't init yek driver 0 0 5"));
    EXPECT_EQ(card()->_fOpen, 0u);
    EXPECT_FALSE(card()->isDriver());
    pioKnobs().iInitResult = 0;
    openOk("\\pio\\0");
    EXPECT_TRUE(card()->isDriver());
}

TEST_F(PciOpenTest, ProtocolCheckAgainstTheDriversSignature)
{
    HANDLE h = openOk();
    Bufs b;
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PROCHK, b.prochk("pio 1 rw")), STATUS_SUCCESS);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PROCHK, b.prochk("pio")), STATUS_SUCCESS);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PROCHK, b.prochk("pio 2")), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(PciOpenTest, ReadTextAlternatesWithEndOfFile)
{
    HANDLE h = openOk();
    std::string sg = readText(h);
    EXPECT_NE(sg.find("name=PIO-5920 org=kavor arch=pci cintr=0 ctimer=1\n"), std::string::npos) << sg;
    EXPECT_EQ(readText(h), "");
    EXPECT_EQ(readText(h), sg);
}

// A module that declares a channel the card object does not have.
class PciWiderModuleTest : public PciTest {
protected:
    const YekMod* cardModule() const override { return &_um; }
    void SetUp() override
    {
        _um._puDd = _mpdd;
        plugAndLoad();
        _mpdd[0]._pup = drvtest::pioProto();  // built by the module's construct hook
    }

    YekDriverDesc _mpdd[1] = {{3, nullptr}};
    YekMod _um = drvtest::ykPio;
};

TEST_F(PciWiderModuleTest, ChannelWithoutACardChannelIsRefused)
{
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\pio\\2"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (first) 0 2 -4"));
    EXPECT_EQ(pioSeen().cInit, 0u);
    EXPECT_EQ(card()->_fOpen, 0u);
    openOk("\\pio\\0");
    EXPECT_EQ(open(&h, "\\pio\\2"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (next) 0 2 -4"));
    EXPECT_EQ(card()->_fOpen, 1u);
}

}  // namespace
