// The call objects against the driver as built: a kernel call on the qir
// channel of a simulated HIX-5316, made directly and through the factory.
#include <gtest/gtest.h>

#include <memory>

#include "../e2e_world.h"
#include "yek_call.h"
#include "yekpro_qir.h"

using namespace KVdepYek100;
using namespace KVdepQir100;
using KVdepSim100::Fault;

namespace {

using e2e::CounterWorld;
using e2e::szDev;
using e2e::text;

const Qir_qir_Proto proQir;

TEST_F(CounterWorld, KernelCallWritesAndReadsARegister)
{
    {
        YekKernel call(&proQir, szDev, "0");
        ASSERT_TRUE(call.isGood()) << text(call);
        EXPECT_EQ(board->runningImage(), "qir_firmware");

        // One exchange request: the write and its answer.
        QirWrite wr;
        wr.iPort(5);
        wr.iVal(0xBEEF);
        YekControlBuf ucb;
        char mpch[512];
        YekData ud(mpch, sizeof mpch);
        ASSERT_TRUE(call.xchMsg(&wr, nullptr, &ucb, &ud).isGood()) << text(call);
        EXPECT_NE(pQirResp(&ucb), nullptr);
        EXPECT_EQ(ud.cData(), 0u);
        EXPECT_EQ(board->qir()->reg(5), 0xBEEFu);

        // A put, then a get into the same control buffer, its header reset
        // first: the receiving record is what the header announces.
        QirRead rd;
        rd.iPort(5);
        ASSERT_TRUE(call.putMsg(&rd, nullptr).isGood()) << text(call);
        ucb = YekControlBuf();
        ASSERT_TRUE(call.getMsg(&ucb, &ud).isGood()) << text(call);
        ASSERT_NE(pQirResp(&ucb), nullptr);
        EXPECT_EQ(pQirResp(&ucb)->iErr(), 0xBEEFu);
        EXPECT_EQ(board->requests().size(), 2u);  // the protocol check reaches no board
    }
    EXPECT_EQ(board->runningImage(), "gid_firmware");
}

TEST_F(CounterWorld, KernelCallRefusesAReusedBufferWithASmallHeader)
{
    YekKernel call(&proQir, szDev, "0");
    ASSERT_TRUE(call.isGood()) << text(call);
    QirWrite wr;
    wr.iPort(5);
    wr.iVal(0x0101);
    YekControlBuf ucb;
    ASSERT_TRUE(call.xchMsg(&wr, nullptr, &ucb, nullptr).isGood()) << text(call);
    ASSERT_LT(ucb._size, 128u) << "the answer is short";
    size_t cRequests = board->requests().size();
    wr.iVal(0x0202);
    EXPECT_TRUE(call.xchMsg(&wr, nullptr, &ucb, nullptr).isFail());
    EXPECT_STREQ(call.szErr(), "DeviceIoControl(xch) failed");
    EXPECT_EQ(board->requests().size(), cRequests) << "nothing reached the board";
    EXPECT_EQ(board->qir()->reg(5), 0x0101u);
}

TEST_F(CounterWorld, FactoryOpensKernelCallsOnTheDevicePath)
{
    std::unique_ptr<Factory> pf(fact.createFactory("kernel:\\\\.\\ZEDOZ_EVU_0"));
    ASSERT_NE(pf, nullptr);
    YekCall* pumA = nullptr;
    YekCall* pumB = nullptr;
    EXPECT_TRUE(pf->createYek(&pumA, &proQir, 0).isGood());
    EXPECT_TRUE(pf->createYek(&pumB, &proQir, 1).isGood());
    std::unique_ptr<YekCall> a(pumA), b(pumB);
    ASSERT_TRUE(a && b);

    QirWrite wr;
    wr.iPort(3);
    wr.iVal(0x1234);
    YekControlBuf ucb;
    EXPECT_TRUE(b->xchMsg(&wr, nullptr, &ucb, nullptr).isGood()) << text(*b);
    EXPECT_EQ(board->qir()->reg(3), 0x1234u);

    // The same channel twice is refused by the driver.
    YekCall* pumAgain = nullptr;
    Failables fa = pf->createYek(&pumAgain, &proQir, 0);
    EXPECT_EQ(pumAgain, nullptr);
    EXPECT_EQ(text(fa), "stat=fail (can't open) 55");
}

TEST_F(CounterWorld, FailedOpensAndRequests)
{
    KVdepYek100::YekProto proWrong("(//)(/Int2:u_int/)", "qir");
    KVdepYek100::YekProto proSio("(//)", "sio");
    YekKernel wrong(&proWrong, szDev, "0");
    EXPECT_EQ(text(wrong), "stat=fail (DeviceIoControl(prochk) failed) 1450");
    YekKernel sio(&proSio, szDev, "0");
    EXPECT_EQ(text(sio), "stat=fail (can't open) 55");
    YekKernel none(&proQir, "\\\\.\\ZEDOZ_EVU_1", "0");
    EXPECT_EQ(text(none), "stat=fail (can't open) 2");

    YekKernel call(&proQir, szDev, "1");
    ASSERT_TRUE(call.isGood()) << text(call);
    board->injectFault(Fault::unplug(eQirRead));
    QirRead rd;
    YekControlBuf ucb;
    EXPECT_TRUE(call.xchMsg(&rd, nullptr, &ucb, nullptr).isFail());
    EXPECT_FALSE(call.isBad());
    EXPECT_STREQ(call.szErr(), "DeviceIoControl(xch) failed");
    size_t cRequests = board->requests().size();
    EXPECT_TRUE(call.putMsg(&rd, nullptr).isFail());
    EXPECT_EQ(board->requests().size(), cRequests);
}

}  // namespace
