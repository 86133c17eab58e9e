// Helpers of the simulated-board tests: byte lists written by hand, and a
// board that is configured and runs one of the stand-in programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "sim/direct_host.h"
#include "sim/sim_boards.h"
#include "sim/usb_descriptors.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;
using usbsim::UsbXfer;

inline Bytes be32(uint32_t u)
{
    return {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
            static_cast<uint8_t>(u)};
}

// Concatenates byte lists: cat({0x0C}, be32(0), be32(5)).
inline Bytes cat(std::initializer_list<Bytes> l)
{
    Bytes mpb;
    for (const Bytes& b : l)
        mpb.insert(mpb.end(), b.begin(), b.end());
    return mpb;
}

// Requests as the driver puts them on the wire.
inline Bytes qirRead(uint8_t iPort) { return {0x07, iPort}; }
inline Bytes qirWrite(uint8_t iPort, uint16_t u)
{
    return {0x08, iPort, static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
}
inline Bytes qirCmd(bool fLast) { return cat({{0x0B}, be32(0), be32(0), be32(1), {static_cast<uint8_t>(fLast)}}); }
inline Bytes qirResp(uint32_t eErr, uint32_t iErr, uint32_t fStat)
{
    return cat({{0x0C}, be32(eErr), be32(iErr), be32(fStat)});
}
inline Bytes vaqInit() { return {0x06}; }

// A board plugged, configured and running the program of one image.
class BoardTest : public ::testing::Test {
protected:
    void start(std::unique_ptr<KVdepSim100::EzUsbBoard> pboard, const std::string& sgImage)
    {
        _pboard = std::move(pboard);
        _phost = std::make_unique<KVdepSim100::DirectHost>(*_pboard);
        ASSERT_EQ(_phost->configure(), UsbXfer::Ok);
        ASSERT_EQ(_phost->download(sgImage), UsbXfer::Ok);
        ASSERT_EQ(_pboard->runningImage(), sgImage);
    }
    KVdepSim100::EzUsbBoard& board() { return *_pboard; }
    KVdepSim100::DirectHost& host() { return *_phost; }

    // One exchange on a channel; the answer's control (empty when none came).
    Bytes ask(const Bytes& mpbCtrl, const Bytes& mpbData = {}, Bytes* pmpbDataUp = nullptr, int iChan = 0)
    {
        return _phost->exchange(iChan, mpbCtrl, mpbData, pmpbDataUp);
    }

    // Register access of the counter board through the wire.
    void write(uint8_t iPort, uint16_t u) { ASSERT_EQ(ask(qirWrite(iPort, u)), qirResp(0, 0, 0)); }
    uint32_t read(uint8_t iPort)
    {
        Bytes mpb = ask(qirRead(iPort));
        EXPECT_EQ(mpb.size(), 13u);
        if (mpb.size() != 13)
            return 0xDEADBEEF;
        return static_cast<uint32_t>(mpb[5]) << 24 | mpb[6] << 16 | mpb[7] << 8 | mpb[8];
    }

    std::unique_ptr<KVdepSim100::EzUsbBoard> _pboard;
    std::unique_ptr<KVdepSim100::DirectHost> _phost;
};

}  // namespace simtest
