#include "yek_fixtures.h"

#include <gtest/gtest.h>

using namespace yek_test;

namespace {

TEST(TaskPlex, ChannelIsAttachedForThePlexersLife)
{
    ManualChannel cn;
    {
        TaskPlex tp(&cn);
        EXPECT_EQ(cn.pux(), static_cast<YekPlex*>(&tp));
        EXPECT_EQ(cn.hChan(), 0);
        EXPECT_STREQ(tp.szName(), "tp");
        EXPECT_EQ(tp.pcn(0), &cn);
        EXPECT_EQ(tp.pcn(1), nullptr);
        EXPECT_EQ(tp.h(), 0);
    }
    EXPECT_EQ(cn.pux(), nullptr);
    EXPECT_EQ(cn.hChan(), -1);
    TaskPlex tpAgain(&cn);  // the channel can be attached again
    EXPECT_EQ(cn.pux(), static_cast<YekPlex*>(&tpAgain));
}

// Waits for one message and keeps its id.
class TakeFunc : public Func {
public:
    int func(int e) override
    {
        if (e == 0)
            return setup(1, fCanget(0), 0);
        _id = pTestMsg(pmd(0)->puc())->_id;
        return setup(-1, 0, fReleasedown(0));
    }
    uint32_t _id = 0;
};

TEST(TaskPlex, QueuedDownMessageReachesTheRunningFuncInTheSameCall)
{
    ManualChannel cn;
    CountingPlex tp(&cn);
    TakeFunc* ptf = new TakeFunc;
    tp.run(ptf);
    tp.sigUp(0, &cn, 0);
    cn.deliver(42);  // the plexer's sigDown goes to the task function
    EXPECT_EQ(ptf->_id, 42u);
    EXPECT_EQ(tp._cDone, 1);
    EXPECT_EQ(cn._cPut, 1);
}

TEST(TaskPlex, UpSignalWithoutAFuncReportsDone)
{
    ManualChannel cn;
    TaskPlex tp(&cn);
    testing::internal::CaptureStderr();
    tp.sigUp(0, &cn, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TaskUser::done\n");
}

}  // namespace
