// An instance used directly on the simulated board: the log lines of its
// open, and the port self-test that no flat function reaches.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "kv_world.h"
#include "qir.h"
#include "sim/sim_boards.h"
#include "stdapihix.h"

namespace {

using PortValue = std::pair<int, uint32_t>;

class HixInstance : public ::testing::Test {
protected:
    void SetUp() override
    {
        _pboard = KVdepSim100::makeHix5316();
        _pworld = std::make_unique<kvworld::World>();
        _pworld->plug(*_pboard);
        ASSERT_EQ(_pworld->loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
        inst.init(0, &os);
    }
    void TearDown() override
    {
        inst.fini();
        kvworld::Report r = _pworld->teardown();
        EXPECT_TRUE(r.clean()) << r.text();
    }
    std::vector<PortValue> writes() const
    {
        std::vector<PortValue> v;
        for (const auto& pa : _pboard->qir()->writes())
            v.emplace_back(pa._iPort, pa._uVal);
        return v;
    }

    std::unique_ptr<KVdepSim100::EzUsbBoard> _pboard;
    std::unique_ptr<kvworld::World> _pworld;
    std::ostringstream os;
    StdApiHixBurst inst;
};

TEST_F(HixInstance, OpenLogsTheDeviceAndTheSimulator)
{
    ASSERT_EQ(inst.hix_init(1), 0);
    EXPECT_EQ(inst.prpSim(), inst.prp()) << "the simulator is the measured board";
    EXPECT_EQ(inst._pliFreq, nullptr);
    ASSERT_EQ(inst.hix_init(0), 0) << "a second open closes the first";
    EXPECT_EQ(inst.prpSim(), nullptr);
    EXPECT_EQ(os.str(),
              "[0] hix_fini -> stat=good () 0\n"
              "[0] hix_init : device : \\\\.\\ZEDOZ_EVU_0 local-data\n"
              "[0] hix_init : simulator : \\\\.\\ZEDOZ_EVU_0 local-data\n"
              "[0] hix_init -> stat=good () 0\n"
              "[0] hix_fini -> stat=good () 0\n"
              "[0] hix_init : device : \\\\.\\ZEDOZ_EVU_0 local-data\n"
              "[0] hix_init -> stat=good () 0\n");
    EXPECT_EQ(_pboard->qir()->cConfigLoads(), 1) << "a fresh program for the second open";
}

TEST_F(HixInstance, AFailedLoadIsLogged)
{
    _pboard->injectFault(KVdepSim100::Fault::errorCode(11, 3));
    EXPECT_EQ(inst.hix_init(0), -1);
    EXPECT_NE(inst.prp(), nullptr) << "the board stays open";
    EXPECT_EQ(os.str(),
              "[0] hix_fini -> stat=good () 0\n"
              "[0] hix_init : config failed\n"
              "[0] hix_init -> stat=fail (config process failed) 0, stat=fail (request failed) 3\n");
}

TEST_F(HixInstance, PortSelfTestThroughTheSimulator)
{
    ASSERT_EQ(inst.hix_init(1), 0);
    ASSERT_EQ(inst.hix_test_ports(), 0) << inst.szErr();
    std::vector<PortValue> w = writes();
    // Set-up, pass 0 with the mask, 2 polarities x 16 bits of 3 writes, end.
    ASSERT_EQ(w.size(), 3u + 1 + 2 + 2 * 16 * 3 + 1);
    EXPECT_EQ(std::vector<PortValue>(w.begin(), w.begin() + 6),
              (std::vector<PortValue>{{31, 0x0001}, {31, 0x05FF}, {20, 0}, {31, 0x0102}, {0, 0xABEE}, {20, 0xFFFF}}));
    EXPECT_EQ(w[6], PortValue(0, 0x0001));
    EXPECT_EQ(w[7], PortValue(31, 0x0600));
    EXPECT_EQ(w[8], PortValue(31, 0x0700));
    EXPECT_EQ(w[6 + 16 * 3], PortValue(0, 0xFFFE)) << "polarity 1: the bit inverted";
    EXPECT_EQ(w.back(), PortValue(20, 0));
}

TEST_F(HixInstance, PortSelfTestFailures)
{
    EXPECT_EQ(inst.hix_test_ports(), -1);
    EXPECT_STREQ(inst.szErr(), "not initialized");
    ASSERT_EQ(inst.hix_init(0), 0);
    EXPECT_EQ(inst.hix_test_ports(), -1) << "no simulator without the simulation flag";
    ASSERT_EQ(inst.hix_init(1), 0);
    // A board whose line-pattern register reads wrong.
    _pboard->setRequestHook([](int, const std::vector<uint8_t>& ctrl,
                               const std::vector<uint8_t>&) -> std::optional<KVdepSim100::RawAnswer> {
        if (ctrl.size() == 2 && ctrl[0] == 0x07 && ctrl[1] == 20)
            return KVdepSim100::RawAnswer{{}, {0x0C, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0, 0, 0, 0}};
        return std::nullopt;
    });
    EXPECT_EQ(inst.hix_test_ports(), -1);
    EXPECT_STREQ(inst.szErr(), "bad line pattern ");
    EXPECT_EQ(inst.iErr(), 0x1234);
}

}  // namespace
