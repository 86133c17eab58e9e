// The worlds of the device and board access tests over the whole road:
// library, Win32 stand-in, driver, USB stand-in, simulated board.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "kv_world.h"
#include "qir.h"
#include "sim/sim_boards.h"
#include "yekad.h"

namespace e2e_access {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";

inline std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

inline std::string ident(const std::vector<uint8_t>& mpb)
{
    return std::string(mpb.begin(), mpb.end());
}

// The drivers qir and vaq, two channels each, on the counter board's
// operating firmware: a card module whose vaq channels open.
extern const YekMod ykVaqQir;

// A HIX-5316 plugged and the kavorqir module loaded. Objects that hold
// handles must go before the teardown (locals of the test body do).
struct CounterWorld : ::testing::Test {
    std::unique_ptr<KVdepSim100::EzUsbBoard> board = KVdepSim100::makeHix5316();
    kvworld::World w;
    usbstub::UsbDevice* pdev = nullptr;

    void SetUp() override
    {
        pdev = &w.plug(*board);
        ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        kvworld::Report r = w.teardown();
        EXPECT_TRUE(r.clean()) << r.text();
    }
};

// The same board opened by the board initializer.
struct OpenedCounter : CounterWorld {
    std::unique_ptr<KVdepQir100::QirLocalTaskInitializer> pini;
    KVdepQir100::QirTaskPlex* prp = nullptr;

    void SetUp() override
    {
        CounterWorld::SetUp();
        pini.reset(new KVdepQir100::QirLocalTaskInitializer(szDev));
        ASSERT_TRUE(pini->isGood()) << text(*pini);
        prp = pini->prp();
    }
    void TearDown() override
    {
        pini.reset();
        CounterWorld::TearDown();
    }
};

}  // namespace e2e_access
