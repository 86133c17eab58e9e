#include "drv_support.h"

#include <algorithm>
#include <cstring>

#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_kmdf_stub.h"
#include "yekpro_qir.h"

namespace drvtest {

YekMemStruct record(void* pv, size_t cbBuf, size_t cbData)
{
    char* pch = static_cast<char*>(pv);
    return YekMemStruct{pch + cbBuf, pch + cbData, pch};
}

YekIoc& Bufs::put(const void* pvCtrl, size_t cbCtrl, size_t cbData)
{
    ioc = YekIoc{};
    std::memcpy(ctrlDown, pvCtrl, cbCtrl);
    ioc._cd = record(ctrlDown, cbCtrl, cbCtrl);
    ioc._dd = record(dataDown, cbData, cbData);
    return ioc;
}

YekIoc& Bufs::get()
{
    ioc = YekIoc{};
    ioc._cu = record(ctrlUp, sizeof ctrlUp, 0);
    ioc._du = record(dataUp, sizeof dataUp, 0);
    return ioc;
}

YekIoc& Bufs::xch(const void* pvCtrl, size_t cbCtrl, size_t cbData)
{
    put(pvCtrl, cbCtrl, cbData);
    ioc._cu = record(ctrlUp, sizeof ctrlUp, 0);
    ioc._du = record(dataUp, sizeof dataUp, 0);
    return ioc;
}

YekIoc& Bufs::prochk(const std::string& sgSig)
{
    std::memcpy(sig, sgSig.c_str(), sgSig.size() + 1);
    return prochkBytes(sgSig.size() + 1);
}

YekIoc& Bufs::prochkBytes(size_t cb)
{
    ioc = YekIoc{};
    ioc._dd = record(sig, cb, cb);
    return ioc;
}

std::vector<char> qirWrite(unsigned uPort, unsigned uVal)
{
    KVdepQir100::QirWrite w;
    w.iPort(uPort);
    w.iVal(uVal);
    const char* pch = reinterpret_cast<const char*>(&w);
    return std::vector<char>(pch, pch + sizeof w);
}

std::vector<char> qirRead(unsigned uPort)
{
    KVdepQir100::QirRead r;
    r.iPort(uPort);
    const char* pch = reinterpret_cast<const char*>(&r);
    return std::vector<char>(pch, pch + sizeof r);
}

NTSTATUS OpenHandles::open(const std::string& sgPath, HANDLE* ph)
{
    *ph = nullptr;
    NTSTATUS st = kstub::io::create(sgPath.c_str(), ph);
    if (NT_SUCCESS(st))
        _mph.push_back(*ph);
    return st;
}

NTSTATUS OpenHandles::close(HANDLE h)
{
    _mph.erase(std::remove(_mph.begin(), _mph.end(), h), _mph.end());
    return kstub::io::close(h);
}

void OpenHandles::closeAll()
{
    for (HANDLE h : std::vector<HANDLE>(_mph))
        close(h);
}

NTSTATUS ioctlInOut(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb)
{
    return kstub::io::ioctl(h, uCode, pvBlock, cb, pvBlock, cb);
}

namespace {
std::atomic<PointHold*> g_pHold{nullptr};
std::atomic<int> g_cInHook{0};  // threads inside atPoint
}  // namespace

PointHold::PointHold(WmPoint ePoint, int cPass) : _ePoint(ePoint), _cPass(cPass)
{
    g_pHold = this;
    wmSetPointHook(atPoint);
}

PointHold::~PointHold()
{
    release();
    wmSetPointHook(nullptr);
    g_pHold = nullptr;
    kvtest::eventually([] { return g_cInHook == 0; });
}

bool PointHold::waitHeld() const
{
    return kvtest::eventually([this] { return _fHeld.load(); });
}

void PointHold::atPoint(WmPoint ePoint)
{
    ++g_cInHook;
    PointHold* ph = g_pHold.load();
    if (ph && ePoint == ph->_ePoint && ph->_cPass.fetch_sub(1) <= 0 && ph->_fArmed.exchange(false)) {
        ph->_fHeld = true;
        kvtest::eventually([ph] { return ph->_fRelease.load(); });
    }
    --g_cInHook;
}

bool besideHeld(kstub::Kernel& k, WmPoint ePoint, const KMUTEX* pmtx, std::function<void()> held,
                std::function<void()> beside)
{
    PointHold hold(ePoint);
    kvtest::JoiningThread tHeld(std::move(held), [&] { hold.release(); });
    if (!hold.waitHeld()) {
        ADD_FAILURE() << "no thread came to the point";
        return false;
    }
    std::atomic<bool> fReturned{false};
    kvtest::JoiningThread tBeside(
        [&] {
            beside();
            fReturned = true;
        },
        [&] { hold.release(); });
    bool fWaited = false;
    EXPECT_TRUE(kvtest::eventually([&] {
        fWaited = k.waitersOn(pmtx) == 1;
        return fReturned || fWaited;
    })) << "the thread beside neither returned nor waits";
    hold.release();
    tHeld.join();
    tBeside.join();
    return fWaited;
}

void expectCleanTeardown(kvworld::World& world)
{
    kvworld::Report r = world.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
    EXPECT_EQ(world.kernel().pool().outstanding(), 0u) << world.kernel().pool().describeOutstanding();
    EXPECT_EQ(world.kernel().pool().executableAllocations(), 0u) << "blocks of executable pool";
}

DriverTest::DriverTest() : board(KVdepSim100::makeHix5316())
{
    // A fresh image for every test: the slots and the module choice.
    wmImageLoad();
}

DriverTest::~DriverTest()
{
    wmSetCardModule(nullptr);
}

NTSTATUS DriverTest::loadDriver()
{
    wmSetCardModule(cardModule());
    return world.loadDriver(FxDriverEntry);
}

usbstub::UsbDevice& DriverTest::plugAndLoad(KVdepSim100::EzUsbBoard* pboard)
{
    pdev = &world.plug(pboard ? *pboard : *board, 0u);
    EXPECT_EQ(loadDriver(), STATUS_SUCCESS);
    return *pdev;
}

usbstub::UsbDevice& DriverTest::plugAndAdd(std::optional<uint32_t> cardType, const std::u16string& driverKey)
{
    k().pnp().setAutoEnumerate(false);
    pdev = &world.plug(*board, cardType, driverKey);
    EXPECT_EQ(loadDriver(), STATUS_SUCCESS);
    EXPECT_EQ(k().pnp().addDevice(pdev->pdo()), STATUS_SUCCESS);
    return *pdev;
}

std::vector<usbstub::UrbRecord> DriverTest::urbs(usbstub::UrbKind kind) const
{
    std::vector<usbstub::UrbRecord> r;
    for (const usbstub::UrbRecord& u : pdev->urbLog())
        if (u.kind == kind)
            r.push_back(u);
    return r;
}

std::vector<usbstub::UrbRecord> DriverTest::bulk() const
{
    std::vector<usbstub::UrbRecord> r;
    for (const usbstub::UrbRecord& u : pdev->urbLog())
        if (u.kind == usbstub::UrbKind::BulkIn || u.kind == usbstub::UrbKind::BulkOut)
            r.push_back(u);
    return r;
}

PDEVICE_OBJECT DriverTest::fdo(int iSlot)
{
    return k().findDevice("\\Device\\ZEDOZ_EVU_" + std::to_string(iSlot));
}

NTSTATUS DriverTest::open(HANDLE* ph, const std::string& sgRest, int iSlot)
{
    return _handles.open("\\\\.\\ZEDOZ_EVU_" + std::to_string(iSlot) + sgRest, ph);
}

HANDLE DriverTest::openOk(const std::string& sgRest, int iSlot)
{
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, sgRest, iSlot), STATUS_SUCCESS) << sgRest;
    return h;
}

NTSTATUS DriverTest::close(HANDLE h)
{
    return _handles.close(h);
}

NTSTATUS DriverTest::ioctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb)
{
    return ioctlInOut(h, uCode, pvBlock, cb);
}

void DriverTest::finish()
{
    if (_fFinished)
        return;
    _fFinished = true;
    _handles.closeAll();
    expectCleanTeardown(world);
}

void DriverTest::TearDown()
{
    finish();
}

}  // namespace drvtest
