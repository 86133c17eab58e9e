// Requests through a two-device stack: completion order, completion routines
// and their conditions, pending propagation, synchronous requests with
// events, and the stop on a second completion.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kv_kernel.h"

namespace {

std::vector<std::string> g_order;
std::mutex g_mtx;
NTSTATUS g_stLower = STATUS_SUCCESS;
bool g_fLowerPends = false;
bool g_fUpperKeeps = false;
bool g_fOnSuccessOnly = false;
PDEVICE_OBJECT g_lower = nullptr, g_upper = nullptr;
std::thread g_worker;

void note(const std::string& s)
{
    std::lock_guard<std::mutex> lk(g_mtx);
    g_order.push_back(s);
}

NTSTATUS lowerDispatch(PDEVICE_OBJECT, PIRP irp)
{
    note("lower dispatch");
    if (g_fLowerPends) {
        IoMarkIrpPending(irp);
        g_worker = std::thread([irp] {
            irp->IoStatus.Status = g_stLower;
            note("lower completes");
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        });
        return STATUS_PENDING;
    }
    irp->IoStatus.Status = g_stLower;
    note("lower completes");
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return g_stLower;
}

NTSTATUS upperCompletion(PDEVICE_OBJECT dev, PIRP irp, PVOID ctx)
{
    note(std::string("upper completion dev=") + (dev == g_upper ? "upper" : dev ? "other" : "null") +
         " pending=" + (irp->PendingReturned ? "1" : "0") +
         " ctx=" + static_cast<const char*>(ctx));
    if (g_fUpperKeeps)
        return STATUS_MORE_PROCESSING_REQUIRED;
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

NTSTATUS upperDispatch(PDEVICE_OBJECT, PIRP irp)
{
    note("upper dispatch");
    IoCopyCurrentIrpStackLocationToNext(irp);
    static const char ctx[] = "c1";
    IoSetCompletionRoutine(irp, upperCompletion, const_cast<char*>(ctx), TRUE, !g_fOnSuccessOnly,
                           !g_fOnSuccessOnly);
    NTSTATUS st = IoCallDriver(g_lower, irp);
    note("upper dispatch returns");
    return st;
}

NTSTATUS lowerEntry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = lowerDispatch;
    return STATUS_SUCCESS;
}

NTSTATUS upperEntry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = upperDispatch;
    return STATUS_SUCCESS;
}

struct IrpTest : ::testing::Test {
    kstub::Kernel k;
    void SetUp() override
    {
        g_order.clear();
        g_stLower = STATUS_SUCCESS;
        g_fLowerPends = g_fUpperKeeps = g_fOnSuccessOnly = false;
        ASSERT_EQ(k.loadDriver(lowerEntry, "lowerdrv"), STATUS_SUCCESS);
        ASSERT_EQ(k.loadDriver(upperEntry, "upperdrv"), STATUS_SUCCESS);
        ASSERT_EQ(IoCreateDevice(k.driverObject("lowerdrv"), 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                 &g_lower),
                  STATUS_SUCCESS);
        ASSERT_EQ(IoCreateDevice(k.driverObject("upperdrv"), 16, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                 &g_upper),
                  STATUS_SUCCESS);
        ASSERT_EQ(IoAttachDeviceToDeviceStack(g_upper, g_lower), g_lower);
        EXPECT_EQ(g_upper->StackSize, 2);
    }
    void TearDown() override
    {
        if (g_worker.joinable())
            g_worker.join();
        IoDetachDevice(g_lower);
        IoDeleteDevice(g_upper);
        IoDeleteDevice(g_lower);
        EXPECT_EQ(k.irpsOutstanding(), 0u);
        EXPECT_TRUE(k.problems().empty());
    }

    // A synchronous request to the top of the stack; waits when it pends.
    NTSTATUS send(IO_STATUS_BLOCK* piosb)
    {
        KEVENT ev;
        KeInitializeEvent(&ev, NotificationEvent, FALSE);
        PIRP irp = IoBuildDeviceIoControlRequest(0x220003, g_upper, nullptr, 0, nullptr, 0, TRUE, &ev,
                                                 piosb);
        EXPECT_NE(irp, nullptr);
        NTSTATUS st = IoCallDriver(g_upper, irp);
        if (st == STATUS_PENDING) {
            KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
            st = piosb->Status;
        }
        EXPECT_EQ(KeReadStateEvent(&ev), 1);
        return st;
    }
};

TEST_F(IrpTest, SynchronousCompletionRunsTheUpperRoutineWithItsDevice)
{
    IO_STATUS_BLOCK iosb{};
    iosb.Status = -1;
    EXPECT_EQ(send(&iosb), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(g_order, (std::vector<std::string>{"upper dispatch", "lower dispatch", "lower completes",
                                                 "upper completion dev=upper pending=0 ctx=c1",
                                                 "upper dispatch returns"}));
}

TEST_F(IrpTest, PendedCompletionPropagatesPendingReturned)
{
    g_fLowerPends = true;
    g_stLower = STATUS_DEVICE_NOT_CONNECTED;
    IO_STATUS_BLOCK iosb{};
    EXPECT_EQ(send(&iosb), STATUS_DEVICE_NOT_CONNECTED);
    g_worker.join();
    std::vector<std::string> want{"upper dispatch", "lower dispatch", "upper dispatch returns",
                                  "lower completes", "upper completion dev=upper pending=1 ctx=c1"};
    // The worker may complete before or after the upper dispatch returns.
    std::sort(want.begin(), want.end());
    std::vector<std::string> got = g_order;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
}

TEST_F(IrpTest, RoutineForSuccessOnlyIsSkippedOnError)
{
    g_fOnSuccessOnly = true;
    g_stLower = STATUS_UNSUCCESSFUL;
    IO_STATUS_BLOCK iosb{};
    EXPECT_EQ(send(&iosb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(iosb.Status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(std::count_if(g_order.begin(), g_order.end(),
                            [](const std::string& s) { return s.find("completion") != std::string::npos; }),
              0);
}

TEST_F(IrpTest, MoreProcessingRequiredLeavesTheRequestWithTheUpperDriver)
{
    g_fUpperKeeps = true;
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    iosb.Status = -1;
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, g_upper, nullptr, 0, nullptr, 0, TRUE, &ev, &iosb);
    // Passed to the upper driver by hand so the test can finish it as the
    // upper driver would.
    EXPECT_EQ(IoCallDriver(g_upper, irp), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, -1);  // not completed to the top yet
    EXPECT_EQ(KeReadStateEvent(&ev), 0);
    EXPECT_EQ(k.irpsOutstanding(), 1u);
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);  // the upper driver completes it now
    EXPECT_EQ(iosb.Status, STATUS_CANCELLED);
    EXPECT_EQ(KeReadStateEvent(&ev), 1);
}

TEST_F(IrpTest, BuildRequestFailureKnob)
{
    k.failNext(kstub::Fault::BuildDeviceIoControlRequest, 2);
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    EXPECT_EQ(send(&iosb), STATUS_SUCCESS);
    EXPECT_EQ(IoBuildDeviceIoControlRequest(0x220003, g_upper, nullptr, 0, nullptr, 0, TRUE, &ev, &iosb),
              nullptr);
    EXPECT_EQ(send(&iosb), STATUS_SUCCESS);
}

// What the next n calls of IoAllocateMdl (or IoAllocateIrp) got: 'x' a
// failure, '.' an object.
std::string mdlAllocations(int n)
{
    static char s_buf[8];
    std::string sg;
    for (int i = 0; i < n; ++i) {
        PMDL m = IoAllocateMdl(s_buf, sizeof s_buf, FALSE, FALSE, nullptr);
        sg += m ? '.' : 'x';
        if (m)
            IoFreeMdl(m);
    }
    return sg;
}

std::string irpAllocations(int n)
{
    std::string sg;
    for (int i = 0; i < n; ++i) {
        PIRP irp = IoAllocateIrp(1, FALSE);
        sg += irp ? '.' : 'x';
        if (irp)
            IoFreeIrp(irp);
    }
    return sg;
}

// A knob fails the calls it was armed for, each of them, however it was
// armed before, and whatever other knobs do beside it.
TEST(PlatformFaultKnobs, AKnobFailsEveryCallItWasArmedForHoweverItWasArmedBefore)
{
    using kstub::Fault;
    kstub::Kernel k;
    const NTSTATUS st = STATUS_UNSUCCESSFUL;
    k.failNext(Fault::AllocateMdl, 1, st, 3);
    EXPECT_EQ(mdlAllocations(5), "xxx..") << "three failures";
    k.failNext(Fault::AllocateMdl);
    EXPECT_EQ(mdlAllocations(3), "x..") << "armed again after it fired";
    k.failNext(Fault::AllocateMdl, 3);
    k.failNext(Fault::AllocateMdl, 2, st, 2);
    EXPECT_EQ(mdlAllocations(5), ".xx..") << "armed again before it fired";
    k.failNext(Fault::AllocateMdl, 2, st, 2);
    k.failNext(Fault::AllocateIrp);
    EXPECT_EQ(irpAllocations(2), "x.") << "another knob beside it";
    EXPECT_EQ(mdlAllocations(4), ".xx.") << "beside another knob";
    k.failNext(Fault::AllocateMdl, 1, st, 0);
    EXPECT_EQ(mdlAllocations(4), "xxxx") << "every call";
    k.failNext(Fault::AllocateMdl, 0);
    EXPECT_EQ(mdlAllocations(2), "..") << "disarmed";
    k.failNext(Fault::AllocateMdl, 2);
    EXPECT_EQ(mdlAllocations(3), ".x.") << "armed after it was disarmed";
    k.failNext(Fault::AllocateMdl, 1, st, 0);
    k.clearFaults();
    EXPECT_EQ(mdlAllocations(2), "..") << "cleared";
    k.failNext(Fault::AllocateMdl);
    EXPECT_EQ(mdlAllocations(2), "x.") << "armed after the knobs were cleared";
}

NTSTATUS completeTwice(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS twiceEntry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = completeTwice;
    return STATUS_SUCCESS;
}

TEST(PlatformIrpDeathTest, SecondCompletionStopsTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            k.loadDriver(twiceEntry, "twice");
            PDEVICE_OBJECT dev = nullptr;
            IoCreateDevice(k.driverObject("twice"), 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &dev);
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
            IoCallDriver(dev, irp);
        },
        "completed already|completed to the top");
}

}  // namespace
