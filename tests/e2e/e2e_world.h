// What the end-to-end tests share: the first board's device path, a status
// as its printed text, and a HIX-5316 plugged with the kavorqir module
// loaded (KAVORQIR_MODULE, the module's path, comes from the test's build).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "kv_world.h"
#include "sim/sim_boards.h"

namespace e2e {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";

template <typename T>
std::string text(const T& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

// Objects that hold handles must go before the teardown (locals of the test
// body do).
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

}  // namespace e2e
