// Named parameters of an instance: kinds, checks, value tests, the statuses
// they leave and the log lines they write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "stdapihix.h"

namespace {

class Params : public ::testing::Test {
protected:
    void SetUp() override { inst.init(0, nullptr); }
    double rd(int e) { return inst.param(e).rd(); }
    int n(int e) { return inst.param(e).i(); }

    StdApiHixBurst inst;
};

TEST_F(Params, Defaults)
{
    EXPECT_EQ(rd(StdApiHixBurst::ceT1), 0.0);
    EXPECT_EQ(rd(StdApiHixBurst::ceT2), 0.0005);
    EXPECT_EQ(n(StdApiHixBurst::ceTrm), 's');
    EXPECT_EQ(n(StdApiHixBurst::ceCtm), 1);
    EXPECT_EQ(n(StdApiHixBurst::ceCch), 1);
    EXPECT_TRUE(inst.isSingle());
    EXPECT_FALSE(inst.isCh2());
    EXPECT_TRUE(inst.isGood());
}

TEST_F(Params, IntSetterChecks)
{
    struct Case {
        const char* sz;
        int n;
        int result;
        const char* text;  // null: good
        int number;
    } cases[] = {
        {"TRM", 'b', 0, nullptr, 0},    {"TRM", 's', 0, nullptr, 0},   {"TRM", 'x', -1, "bad parameter", 120},
        {"TRM", 0, -1, "bad parameter", 0},
        {"CTM", 1, 0, nullptr, 0},      {"CTM", 0, 0, nullptr, 0},     {"CTM", -5, 0, nullptr, 0},
        {"CTM", 2, -1, "bad parameter", 2},
        {"CCH", 1, 0, nullptr, 0},      {"CCH", 2, 0, nullptr, 0},     {"CCH", 0, -1, "bad parameter", 0},
        {"CCH", 3, -1, "bad parameter", 3}, {"CCH", -1, -1, "bad parameter", -1},
        {"T1", 1, 0, nullptr, 0},       {"T2", -3, 0, nullptr, 0},     {"T2", 71, 0, nullptr, 0},
        // 72 s is 2,160,000,000 ticks: no signed 32-bit delay.
        {"T2", 72, -1, "bad parameter", 1}, {"T1", -72, -1, "bad parameter", 0},
        {"t1", 1, -1, "param not found", -1}, {"", 1, -1, "param not found", -1},
        {nullptr, 1, -1, "param not found", -1},
    };
    for (const Case& c : cases) {
        inst.init(0, nullptr);
        int e = inst.iParam(c.sz);
        EXPECT_EQ(inst.set_param_int(c.sz, c.n), c.result) << (c.sz ? c.sz : "null") << " " << c.n;
        if (c.text) {
            EXPECT_TRUE(inst.isFail());
            EXPECT_STREQ(inst.szErr(), c.text) << c.sz << " " << c.n;
            EXPECT_EQ(inst.iErr(), c.number) << c.sz << " " << c.n;
            if (e >= 0) {
                StdApiHixBurst fresh;
                fresh.init(0, nullptr);
                if (e <= StdApiHixBurst::ceT2)
                    EXPECT_EQ(inst.param(e).rd(), fresh.param(e).rd()) << "nothing stored for " << c.sz;
                else
                    EXPECT_EQ(inst.param(e).i(), fresh.param(e).i()) << "nothing stored for " << c.sz;
            }
        } else {
            EXPECT_TRUE(inst.isGood()) << c.sz << " " << c.n;
            if (e <= StdApiHixBurst::ceT2)
                EXPECT_EQ(inst.param(e).rd(), double(c.n));
            else
                EXPECT_EQ(inst.param(e).i(), c.n);
        }
    }
}

TEST_F(Params, DoubleSetterStoresWithoutTheChecks)
{
    EXPECT_EQ(inst.set_param_double("CCH", 3.0), 0);
    EXPECT_EQ(n(StdApiHixBurst::ceCch), 3);
    EXPECT_EQ(inst.set_param_double("CTM", 0.9), 0);
    EXPECT_EQ(n(StdApiHixBurst::ceCtm), 0);
    EXPECT_TRUE(inst.isCont());
    EXPECT_EQ(inst.set_param_double("CTM", -7.9), 0);
    EXPECT_EQ(n(StdApiHixBurst::ceCtm), -7);
    EXPECT_EQ(inst.set_param_double("TRM", 120.5), 0);
    EXPECT_EQ(n(StdApiHixBurst::ceTrm), 'x');
    EXPECT_EQ(inst.set_param_double("T1", -5e-4), 0);
    EXPECT_EQ(rd(StdApiHixBurst::ceT1), -5e-4);
    EXPECT_EQ(inst.set_param_double("T2", 1e-3), 0);
    EXPECT_EQ(rd(StdApiHixBurst::ceT2), 1e-3);
    EXPECT_EQ(inst.set_param_int("T2", 1), 0);
    EXPECT_EQ(rd(StdApiHixBurst::ceT2), 1.0);
    EXPECT_EQ(inst.set_param_double("t2", 1.0), -1);
    EXPECT_STREQ(inst.szErr(), "param not found");
    EXPECT_EQ(inst.set_param_double(nullptr, 1.0), -1);
    EXPECT_STREQ(inst.szErr(), "param not found");
}

TEST_F(Params, DoubleValueTest)
{
    const double rdNan = std::numeric_limits<double>::quiet_NaN();
    const double rdInf = std::numeric_limits<double>::infinity();
    // The largest delay is just below 2^31 ticks of 1/30 MHz, about 71.58 s.
    const double rdMaxT = 2147483647.5 * StdApiHixBurst::rdTick;
    struct Case {
        const char* sz;
        double rd;
        bool fOk;
        int number;
    } cases[] = {
        {"T1", rdNan, false, 0},          {"T2", rdNan, false, 1},      {"T2", rdInf, false, 1},
        {"T2", -rdInf, false, 1},         {"T2", 71.58, true, 0},       {"T2", 71.59, false, 1},
        {"T1", -71.58, true, 0},          {"T1", -71.59, false, 0},     {"T2", rdMaxT, true, 0},
        {"T2", 2147483648.0 * StdApiHixBurst::rdTick, false, 1},
        {"CCH", rdNan, false, 4},         {"CCH", 2147483647.9, true, 0}, {"CCH", 2147483648.0, false, 4},
        {"CTM", -2147483648.9, true, 0},  {"CTM", -2147483649.0, false, 3}, {"TRM", 1e300, false, 2},
        {"TRM", -rdInf, false, 2},
    };
    for (const Case& c : cases) {
        inst.init(0, nullptr);
        inst.set_param_double("CCH", 2.0);
        int e = inst.iParam(c.sz);
        StdApiC::Param before = inst.param(e);
        int r = inst.set_param_double(c.sz, c.rd);
        if (c.fOk) {
            EXPECT_EQ(r, 0) << c.sz << " " << c.rd;
            EXPECT_TRUE(inst.isGood());
        } else {
            EXPECT_EQ(r, -1) << c.sz << " " << c.rd;
            EXPECT_STREQ(inst.szErr(), "bad parameter") << c.sz << " " << c.rd;
            EXPECT_EQ(inst.iErr(), c.number) << c.sz << " " << c.rd;
            EXPECT_EQ(std::memcmp(&before, &inst.param(e), sizeof before), 0) << "nothing stored for " << c.sz;
        }
    }
}

TEST_F(Params, FailedInstanceRefusesTheIntSetterOnly)
{
    inst.setFailed("fifo overflow", 1);
    EXPECT_EQ(inst.set_param_int("CCH", 2), -1);
    EXPECT_STREQ(inst.szErr(), "fifo overflow");
    EXPECT_EQ(inst.iErr(), 1);
    EXPECT_EQ(n(StdApiHixBurst::ceCch), 1);
    EXPECT_EQ(inst.set_param_double("CCH", 2), 0);
    EXPECT_TRUE(inst.isGood());
    EXPECT_EQ(n(StdApiHixBurst::ceCch), 2);
    EXPECT_EQ(inst.set_param_int("CCH", 1), 0);
}

TEST(ParamsLog, StatusAndTextLines)
{
    std::ostringstream os;
    StdApiHixBurst inst;
    inst.init(1, &os);
    inst.set_param_int("CCH", 3);
    inst.set_param_int("CCH", 2);
    inst.set_param_double("CCH", 2.0);
    Failables faCause;
    faCause.setFailed("can't open", 2);
    Failables fa;
    fa.setFailed("qir", 265, &faCause);
    inst._setStatus("hix_init", fa);
    inst._setStatus("hix_fini", inst.faOk);
    inst._logFunc("hix_init", "config failed");
    inst._logFunc("hix_loop", std::string("count=3 0 "));
    EXPECT_EQ(os.str(),
              "[1] set_param_int -> stat=fail (bad parameter) 3\n"
              "[1] set_param_int -> stat=fail (bad parameter) 3\n"
              "[1] set_param_double -> stat=good () 0\n"
              "[1] hix_init -> stat=fail (qir) 265, stat=fail (can't open) 2\n"
              "[1] hix_fini -> stat=good () 0, stat=fail (can't open) 2\n"
              "[1] hix_init : config failed\n"
              "[1] hix_loop : count=3 0 \n");
    inst.init(1, nullptr);
    EXPECT_EQ(inst.c(), 0);
    EXPECT_EQ(inst.pos(), nullptr);
    EXPECT_EQ(inst.iInst(), 1);
}

}  // namespace
