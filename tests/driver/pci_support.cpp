#include "pci_support.h"

#include "kv_kmdf_stub.h"

namespace drvtest {

AsyncIoctl::AsyncIoctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb, std::function<void()> release)
    : _h(h),
      _t(
          [this, uCode, pvBlock, cb] {
              _st = kstub::io::ioctl(_h, uCode, pvBlock, cb, pvBlock, cb);
              _fDone = true;
          },
          release ? std::move(release) : [this] { cancelUntilDone(); })
{
}

NTSTATUS AsyncIoctl::result()
{
    if (!kvtest::eventually([this] { return isDone(); }))
        return STATUS_PENDING;
    _t.join();
    return _st.load();
}

void AsyncIoctl::cancelUntilDone()
{
    kvtest::eventually([this] {
        if (!isDone())
            kstub::io::cancel(_h);
        return isDone();
    });
}

PciTest::PciTest()
{
    wmImageLoad();
    pioReset();
    // Every class of line, the scheduler's among them.
    world.setDebug(0x3FF);
}

PciTest::~PciTest()
{
    wmSetCardModule(nullptr);
}

NTSTATUS PciTest::loadDriver()
{
    wmSetCardModule(cardModule());
    return world.loadDriver(FxDriverEntry);
}

pcistub::PciDevice& PciTest::plugAndLoad(pcistub::PciProps props)
{
    pdev = &world.plugPci(board, props);
    EXPECT_EQ(loadDriver(), STATUS_SUCCESS);
    return *pdev;
}

pcistub::PciDevice& PciTest::plugAndAdd(pcistub::PciProps props)
{
    k().pnp().setAutoEnumerate(false);
    pdev = &world.plugPci(board, props);
    EXPECT_EQ(loadDriver(), STATUS_SUCCESS);
    EXPECT_EQ(k().pnp().addDevice(pdev->pdo()), STATUS_SUCCESS);
    return *pdev;
}

PDEVICE_OBJECT PciTest::fdo()
{
    return k().findDevice("\\Device\\ZEDOZ_EVU_0");
}

CardBus* PciTest::card()
{
    PDEVICE_OBJECT p = fdo();
    return p ? static_cast<CardBus*>(static_cast<Card*>(p->DeviceExtension)) : nullptr;
}

NTSTATUS PciTest::open(HANDLE* ph, const std::string& sgRest)
{
    return _handles.open("\\\\.\\ZEDOZ_EVU_0" + sgRest, ph);
}

HANDLE PciTest::openOk(const std::string& sgRest)
{
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, sgRest), STATUS_SUCCESS) << sgRest;
    return h;
}

NTSTATUS PciTest::close(HANDLE h)
{
    return _handles.close(h);
}

NTSTATUS PciTest::ioctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb)
{
    return ioctlInOut(h, uCode, pvBlock, cb);
}

std::string PciTest::readText(HANDLE h)
{
    char mpch[1024] = {};
    ULONG_PTR cb = 0;
    EXPECT_EQ(kstub::io::read(h, mpch, sizeof mpch, &cb), STATUS_SUCCESS);
    return std::string(mpch, cb);
}

void PciTest::finish()
{
    if (_fFinished)
        return;
    _fFinished = true;
    _handles.closeAll();
    expectCleanTeardown(world);
}

void PciTest::TearDown()
{
    finish();
}

}  // namespace drvtest
