// The EZ-USB controller: descriptors, memory writes, holding and releasing the
// CPU, and the program it runs after each download.
#include <gtest/gtest.h>

#include "sim/usb_descriptors.h"
#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::Bytes;
using simtest::UsbXfer;

class Download : public ::testing::Test {
protected:
    Download() : _pboard(makeHix5316()), _host(*_pboard) {}
    EzUsbBoard& board() { return *_pboard; }

    std::unique_ptr<EzUsbBoard> _pboard;
    DirectHost _host;
};

TEST_F(Download, PresentsSixBulkEndpointsInAlternateSettingOneFromPowerUp)
{
    EXPECT_TRUE(board().isCpuHeld());
    EXPECT_EQ(board().programKind(), ProgramKind::None);
    Bytes mpbDev = board().deviceDescriptor();
    ASSERT_EQ(mpbDev.size(), 18u);
    EXPECT_EQ(mpbDev[1], 1);
    EXPECT_EQ(mpbDev[17], 1);  // one configuration
    Bytes mpb = board().configurationDescriptor(0);
    ASSERT_GE(mpb.size(), 9u);
    EXPECT_EQ(mpb[2] | mpb[3] << 8, static_cast<int>(mpb.size()));
    EXPECT_EQ(mpb[5], 1);  // bConfigurationValue
    // Walk the descriptors: the endpoints that follow interface 0 alternate 1.
    std::vector<uint8_t> mpbEp;
    int bAlt = -1, cEpDeclared = -1;
    for (size_t i = 9; i + 1 < mpb.size(); i += mpb[i]) {
        if (mpb[i + 1] == 4) {
            bAlt = mpb[i + 3];
            if (mpb[i + 2] == 0 && bAlt == 1)
                cEpDeclared = mpb[i + 4];
        } else if (mpb[i + 1] == 5 && bAlt == 1) {
            EXPECT_EQ(mpb[i + 3], 2);  // bulk
            mpbEp.push_back(mpb[i + 2]);
        }
    }
    EXPECT_EQ(cEpDeclared, 6);
    EXPECT_EQ(mpbEp, (Bytes{0x01, 0x81, epDown0, epDown1, epUp0, epUp1}));
    EXPECT_TRUE(board().configurationDescriptor(1).empty());
}

TEST_F(Download, RunsTheProgramOfEachImage)
{
    struct Case {
        const char* szImage;
        ProgramKind eKind;
    } mpcase[] = {
        {"gid_firmware", ProgramKind::Idle},          {"qir_firmware", ProgramKind::Operating},
        {"gdc_firmware", ProgramKind::Disconnected},  {"sio_firmware", ProgramKind::Operating},
        {"wex_firmware", ProgramKind::Operating},     {"gid_firmware", ProgramKind::Idle},
    };
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    for (const Case& c : mpcase) {
        ASSERT_EQ(_host.download(c.szImage), UsbXfer::Ok);
        EXPECT_EQ(board().runningImage(), c.szImage);
        EXPECT_EQ(board().programKind(), c.eKind) << c.szImage;
        EXPECT_FALSE(board().isCpuHeld());
        EXPECT_EQ(board().configurationValue(), 1);  // the configuration survives downloads
        EXPECT_EQ(board().alternateSetting(), 1);
    }
    EXPECT_EQ(board().memory(0x000A), 'g');  // "KVSTANDIN:gid:01" of the last image
    ASSERT_EQ(board().downloads().size(), std::size(mpcase));
    EXPECT_EQ(board().downloads()[1]._cWrites, 790u);
}

TEST_F(Download, AnythingButAWholeImageInOrderRunsNoProgram)
{
    std::vector<KVdepFw100::FwRecord> mprec = KVdepFw100::fwImage("qir_firmware");
    struct Case {
        const char* szWhat;
        std::function<void(std::vector<KVdepFw100::FwRecord>&)> change;
    } mpcase[] = {
        {"last record missing", [](auto& mp) { mp.erase(mp.end() - 2); }},
        {"first record missing", [](auto& mp) { mp.erase(mp.begin()); }},
        {"two records swapped", [](auto& mp) { std::swap(mp[5], mp[6]); }},
        {"one byte changed", [](auto& mp) { mp[300]._mpbData[0] ^= 1; }},
        {"one record shorter", [](auto& mp) { --mp[300]._cData; }},
        {"an extra zero-length write", [](auto& mp) { mp.insert(mp.begin() + 3, KVdepFw100::FwRecord{0x40, 0, {}}); }},
        {"nothing at all", [](auto& mp) { mp.erase(mp.begin(), mp.end() - 1); }},
    };
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    for (const Case& c : mpcase) {
        std::vector<KVdepFw100::FwRecord> mp = mprec;
        c.change(mp);
        ASSERT_EQ(_host.download(mp), UsbXfer::Ok);
        EXPECT_EQ(board().programKind(), ProgramKind::Unknown) << c.szWhat;
        EXPECT_EQ(board().runningImage(), "") << c.szWhat;
        EXPECT_EQ(_host.exchange(0, simtest::vaqInit()), Bytes()) << c.szWhat;  // no answer
    }
}

TEST_F(Download, HoldingAgainRestartsTheDownload)
{
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    std::vector<KVdepFw100::FwRecord> mprec = KVdepFw100::fwImage("sio_firmware");
    // A download that stopped half-way leaves the CPU held ...
    ASSERT_EQ(_host.holdCpu(true), UsbXfer::Ok);
    for (int i = 0; i < 100; ++i)
        board().vendorOut(0xA0, mprec[i]._addr, 0, mprec[i]._mpbData.data(), mprec[i]._cData);
    EXPECT_TRUE(board().isCpuHeld());
    EXPECT_EQ(board().programKind(), ProgramKind::None);
    // ... and the next one begins afresh.
    ASSERT_EQ(_host.download(mprec), UsbXfer::Ok);
    EXPECT_EQ(board().runningImage(), "sio_firmware");
    // Writes while the CPU runs are logged as such and start nothing.
    uint8_t b = 0x55;
    EXPECT_EQ(board().vendorOut(0xA0, 0x1000, 0, &b, 1), UsbXfer::Ok);
    EXPECT_FALSE(board().vendorWrites().back()._fHeld);
    EXPECT_EQ(board().runningImage(), "sio_firmware");
    EXPECT_EQ(board().memory(0x1000), 0x55);
}

TEST_F(Download, RefusesOtherRequestsAndWritesPastTheMemory)
{
    Bytes mpb(16, 0);
    EXPECT_EQ(board().vendorOut(0xA1, 0, 0, mpb.data(), 16), UsbXfer::Stall);
    EXPECT_EQ(board().vendorOut(0xA0, 0xFFF8, 0, mpb.data(), 16), UsbXfer::Stall);
    EXPECT_EQ(board().vendorOut(0xA0, 0xFFF0, 0, mpb.data(), 16), UsbXfer::Ok);
    EXPECT_EQ(board().vendorOut(0xA0, 0x20, 0, nullptr, 0), UsbXfer::Ok);  // a zero-length write
}

TEST_F(Download, BulkTransfersNeedTheBoardsAlternateSetting)
{
    uint8_t b = 0x06;
    size_t cb = 0;
    uint8_t mpb[512];
    EXPECT_EQ(board().bulkOut(epDown0, &b, 1), UsbXfer::Stall);
    EXPECT_EQ(board().setInterface(0, 1), UsbXfer::Stall);  // not configured
    EXPECT_EQ(board().setConfiguration(2), UsbXfer::Stall);
    ASSERT_EQ(board().setConfiguration(1), UsbXfer::Ok);
    EXPECT_EQ(board().bulkOut(epDown0, &b, 1), UsbXfer::Stall);  // alternate setting 0
    ASSERT_EQ(board().setInterface(0, 1), UsbXfer::Ok);
    EXPECT_EQ(board().bulkOut(epDown0, &b, 1), UsbXfer::Ok);
    EXPECT_EQ(board().bulkOut(0x03, &b, 1), UsbXfer::Stall);  // no such endpoint
    EXPECT_EQ(board().bulkIn(epDown0, mpb, 512, &cb), UsbXfer::Stall);
    EXPECT_EQ(board().bulkIn(epUp0, mpb, 512, &cb), UsbXfer::Pending);  // no program
    ASSERT_EQ(board().setConfiguration(0), UsbXfer::Ok);  // deconfigured, as at stop
    EXPECT_EQ(board().bulkIn(epUp0, mpb, 512, &cb), UsbXfer::Stall);
}

TEST_F(Download, IdleAndDisconnectedProgramsDoNotAnswer)
{
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    ASSERT_EQ(_host.download("gid_firmware"), UsbXfer::Ok);
    Bytes mpbData, mpbCtrl;
    EXPECT_EQ(_host.put(0, simtest::vaqInit()), UsbXfer::Ok);  // taken and dropped
    EXPECT_EQ(_host.get(0, &mpbData, &mpbCtrl), UsbXfer::Pending);
    board().setStallWhenSilent(true);
    EXPECT_EQ(_host.get(0, &mpbData, &mpbCtrl), UsbXfer::Stall);
    ASSERT_EQ(_host.download("gdc_firmware"), UsbXfer::Ok);
    EXPECT_EQ(_host.put(0, simtest::vaqInit()), UsbXfer::NoResponse);
    EXPECT_EQ(_host.get(0, &mpbData, &mpbCtrl), UsbXfer::NoResponse);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);  // still reachable for downloads
    EXPECT_EQ(_host.exchange(0, simtest::vaqInit()).size(), 13u);
}

TEST_F(Download, HoldingTheCpuDropsQueuedAnswers)
{
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);
    ASSERT_EQ(_host.put(0, simtest::vaqInit()), UsbXfer::Ok);
    ASSERT_EQ(_host.put(1, simtest::qirRead(20)), UsbXfer::Ok);
    EXPECT_EQ(board().cPacketsWaiting(0), 2u);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);
    EXPECT_EQ(board().cPacketsWaiting(0), 0u);
    EXPECT_EQ(board().cPacketsWaiting(1), 0u);
    // A half-sent request is forgotten too: the next transfer is a control.
    ASSERT_EQ(board().bulkOut(epDown0, simtest::vaqInit().data(), 1), UsbXfer::Ok);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);
    EXPECT_EQ(_host.exchange(0, simtest::qirRead(20)), simtest::qirResp(0, 0xA55A, 0));
}

TEST_F(Download, ReplugReturnsToThePowerUpState)
{
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);
    board().unplug();
    EXPECT_TRUE(board().deviceDescriptor().empty());
    EXPECT_EQ(board().setConfiguration(1), UsbXfer::NoResponse);
    board().replug();
    EXPECT_FALSE(board().isUnplugged());
    EXPECT_TRUE(board().isCpuHeld());
    EXPECT_EQ(board().programKind(), ProgramKind::None);
    EXPECT_EQ(board().configurationValue(), 0);
    ASSERT_EQ(_host.configure(), UsbXfer::Ok);
    ASSERT_EQ(_host.download("qir_firmware"), UsbXfer::Ok);
    EXPECT_EQ(_host.exchange(0, simtest::vaqInit()).size(), 13u);
}

}  // namespace
