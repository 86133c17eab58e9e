#include "logger.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace KVdepVovad100;

namespace {

// A core that logs what it is told and gives each logger the number of
// names in its path as mask.
class TestCore : public Core {
public:
    TestCore() : Core(0x30) {}
    void init(Logger* plo) override
    {
        vsgCalls.push_back(std::string("init ") + plo->szId());
        Core::init(plo);
    }
    void fini(Logger* plo) override { vsgCalls.push_back(std::string("fini ") + plo->szId()); }
    int getConfig(const char** ppchPath, const char** ppchLim) override
    {
        vPath.assign(ppchPath, ppchLim);
        return static_cast<int>(ppchLim - ppchPath);
    }
    std::vector<std::string> vsgCalls;
    std::vector<const char*> vPath;
};

struct LoggerTest : ::testing::Test {
    ~LoggerTest() override { pVovadCore = nullptr; }
    TestCore core;
};

TEST_F(LoggerTest, WithoutACoreNothingIsCalled)
{
    Logger lo("net", nullptr);
    EXPECT_EQ(lo.pco(), nullptr);
    pVovadCore = &core;  // too late for lo
    EXPECT_EQ(lo.pco(), nullptr);
}

TEST_F(LoggerTest, NamedLoggersRegisterWithTheirPathAndKeepTheirCore)
{
    pVovadCore = &core;
    {
        Logger root("dev", nullptr);
        Logger lo("net", &root);
        EXPECT_EQ(lo.pco(), &core);
        EXPECT_EQ(lo.fMask(), 2);
        EXPECT_EQ(std::vector<std::string>(core.vPath.begin(), core.vPath.end()),
                  (std::vector<std::string>{"dev", "net"}));
        Logger nameless(nullptr, &root);  // never registers
        TestCore coreOther;
        pVovadCore = &coreOther;
        {
            Logger late("late", &lo);
            EXPECT_EQ(late.pco(), &coreOther);
        }
        EXPECT_EQ(coreOther.vsgCalls, (std::vector<std::string>{"init late", "fini late"}));
        EXPECT_EQ(std::vector<std::string>(coreOther.vPath.begin(), coreOther.vPath.end()),
                  (std::vector<std::string>{"dev", "net", "late"}));
    }
    EXPECT_EQ(core.vsgCalls, (std::vector<std::string>{"init dev", "init net", "fini net", "fini dev"}));

    Core coreBase(0x13);
    pVovadCore = &coreBase;
    Logger lo("any", nullptr);
    EXPECT_EQ(lo.fMask(), 0x13);
}

TEST_F(LoggerTest, DeepLoggerRegistersWithItsShallowestNames)
{
    pVovadCore = &core;
    std::vector<std::string> vsgNames;
    for (int i = 0; i < 20; ++i)
        vsgNames.push_back("n" + std::to_string(i));
    std::vector<std::unique_ptr<Logger>> vlo;
    for (int i = 0; i < 20; ++i)
        vlo.push_back(std::make_unique<Logger>(vsgNames[i].c_str(), i ? vlo.back().get() : nullptr));
    EXPECT_EQ(vlo.back()->fMask(), ceMaxPath);
    EXPECT_EQ(std::vector<std::string>(core.vPath.begin(), core.vPath.end()),
              std::vector<std::string>(vsgNames.begin(), vsgNames.begin() + ceMaxPath));
    while (!vlo.empty())
        vlo.pop_back();
}

TEST_F(LoggerTest, AncestorLoopEndsThePathWhereItWouldRepeat)
{
    pVovadCore = &core;
    Logger self("self", nullptr);
    self._ploPar = &self;  // its own ancestor
    Logger child("child", &self);
    EXPECT_EQ(child.fMask(), 2);
    EXPECT_EQ(std::vector<std::string>(core.vPath.begin(), core.vPath.end()),
              (std::vector<std::string>{"self", "child"}));

    Logger a("a", nullptr);
    Logger b("b", &a);
    a._ploPar = &b;
    Logger c("c", &a);
    EXPECT_EQ(c.fMask(), 3);
    EXPECT_EQ(std::vector<std::string>(core.vPath.begin(), core.vPath.end()),
              (std::vector<std::string>{"b", "a", "c"}));
}

TEST_F(LoggerTest, VeryLongChainRegistersWithItsShallowestNames)
{
    // Built without a core, so only the last logger walks the chain.
    const int cDepth = 1000000;
    std::deque<Logger> dlo;
    for (int i = 0; i < cDepth; ++i)
        dlo.emplace_back(i == 0 ? "root" : "mid", i ? &dlo.back() : nullptr);
    pVovadCore = &core;
    Logger lo("leaf", &dlo.back());
    EXPECT_EQ(lo.fMask(), ceMaxPath);
    ASSERT_EQ(core.vPath.size(), static_cast<size_t>(ceMaxPath));
    EXPECT_STREQ(core.vPath[0], "root");
    EXPECT_STREQ(core.vPath[ceMaxPath - 1], "mid");
}

TEST_F(LoggerTest, RecordTextsAreCutTo255Characters)
{
    Record* prc = core.openRecordLvl(nullptr, 1);
    std::string sgLong(300, 'x');
    EXPECT_EQ(std::string(prc->puts(sgLong.c_str())->_mpch), std::string(255, 'x'));
    EXPECT_EQ(std::string(prc->printf("%s!", sgLong.c_str())->_mpch), std::string(255, 'x'));
    EXPECT_EQ(std::string(prc->printf("count=%d %s", 7, "ok")->_mpch), "count=7 ok");
    EXPECT_EQ(std::string(prc->puts(nullptr)->_mpch), "");
}

TEST_F(LoggerTest, FlushWritesALogLineToStandardError)
{
    pVovadCore = &core;
    Logger lo("net", nullptr);
    Logger nameless(nullptr, nullptr);
    testing::internal::CaptureStderr();
    core.flushRecord(core.openRecordLvl(&lo, 13)->puts("armed"));
    core.flushRecord(core.openRecordLvl(&nameless, 2)->puts("x"));
    core.flushRecord(core.openRecordLvl(nullptr, 3));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG:13:net:armed\nLOG:2::x\nLOG:3::\n");
}

TEST_F(LoggerTest, FlushOfAForeignRecordStops)
{
    Record rc{};
    EXPECT_DEATH(core.flushRecord(&rc), "Assertion failed: prc==&_rc, file logger, line 35");
}

}  // namespace
