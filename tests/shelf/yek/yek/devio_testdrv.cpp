#include "devio_testdrv.h"

#include <algorithm>
#include <cstring>

#include "kv_eventually.h"

namespace devio_test {

using KVdepYek100::YekProto;

namespace {

struct Ext {
    PDEVICE_OBJECT pdoLower;
    std::u16string sgLink;
};

size_t cbOf(const YekMemStruct& m)
{
    return m._pchBase && m._pchLimBuf > m._pchBase ? size_t(m._pchLimBuf - m._pchBase) : 0;
}

NTSTATUS complete(PIRP irp, NTSTATUS st)
{
    irp->IoStatus.Status = st;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return st;
}

UNICODE_STRING ustr(std::u16string& s)
{
    UNICODE_STRING u;
    u.Buffer = &s[0];
    u.Length = u.MaximumLength = USHORT(s.size() * 2);
    return u;
}

}  // namespace

// The dispatch routines reach the driver's state through this.
struct DriverAccess {
    static TestBoardDriver& d() { return TestBoardDriver::the(); }

    static int chanOf(PIRP irp)
    {
        PFILE_OBJECT fo = IoGetCurrentIrpStackLocation(irp)->FileObject;
        return int(reinterpret_cast<uintptr_t>(fo->FsContext)) - 1;
    }

    // Writes the answer into the caller's up records, as far as they reach.
    static void deliver(YekIoc* pioc, const Msg& m, size_t cbOverstate)
    {
        size_t cbCtrl = std::min(m.sgCtrl.size(), cbOf(pioc->_cu));
        std::memcpy(pioc->_cu._pchBase, m.sgCtrl.data(), cbCtrl);
        pioc->_cu._pchLimDat = pioc->_cu._pchBase + cbCtrl;
        size_t cbData = std::min(m.sgData.size(), cbOf(pioc->_du));
        if (cbData)
            std::memcpy(pioc->_du._pchBase, m.sgData.data(), cbData);
        pioc->_du._pchLimDat = pioc->_du._pchBase + cbData + cbOverstate;
    }

    static NTSTATUS onCreate(PDEVICE_OBJECT, PIRP irp)
    {
        PFILE_OBJECT fo = IoGetCurrentIrpStackLocation(irp)->FileObject;
        std::string sg = kstub::narrow(std::u16string(fo->FileName.Buffer ? fo->FileName.Buffer : u"",
                                                      fo->FileName.Length / 2));
        TestBoardDriver& t = d();
        std::lock_guard<std::mutex> lk(t._mtx);
        if (sg.size() != cchYekChanFile)
            return complete(irp, STATUS_NO_SUCH_DEVICE);
        bool fProto = std::any_of(t._mpProto.begin(), t._mpProto.end(),
                                  [&](const DrvProto& p) { return sg.compare(1, 3, p.sgName) == 0; });
        int iChan = sg[5] - '0';
        if (!fProto || iChan < 0 || iChan > 1 || t._mpChan[iChan].fOpen)
            return complete(irp, STATUS_NO_SUCH_DEVICE);
        t._mpChan[iChan].fOpen = true;
        t._mpsgOpen.push_back(sg);
        fo->FsContext = reinterpret_cast<PVOID>(uintptr_t(iChan + 1));
        return complete(irp, STATUS_SUCCESS);
    }

    static NTSTATUS onClose(PDEVICE_OBJECT, PIRP irp)
    {
        PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
        if (sl->MajorFunction == IRP_MJ_CLOSE && sl->FileObject->FsContext) {
            std::lock_guard<std::mutex> lk(d()._mtx);
            d()._mpChan[chanOf(irp)] = TestBoardDriver::Chan();
        }
        return complete(irp, STATUS_SUCCESS);
    }

    static bool takeFault(TestBoardDriver& t, ULONG uCode, int iChan, NTSTATUS* pst)
    {
        for (auto it = t._mpFail.begin(); it != t._mpFail.end(); ++it)
            if (it->uCode == uCode && (it->iChan < 0 || it->iChan == iChan)) {
                *pst = it->st;
                t._mpFail.erase(it);
                return true;
            }
        return false;
    }

    static NTSTATUS onIoctl(PDEVICE_OBJECT, PIRP irp)
    {
        PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
        auto& p = sl->Parameters.DeviceIoControl;
        // The block's shape is the driver's to check.
        if (p.Type3InputBuffer != irp->UserBuffer || p.InputBufferLength != p.OutputBufferLength ||
            p.InputBufferLength != cbYekIoc)
            return complete(irp, STATUS_NO_SUCH_DEVICE);
        auto* pioc = static_cast<YekIoc*>(p.Type3InputBuffer);
        ULONG uCode = p.IoControlCode;
        int iChan = chanOf(irp);
        TestBoardDriver& t = d();
        std::unique_lock<std::mutex> lk(t._mtx);
        t._mpCall.push_back(Call{uCode, *pioc});
        NTSTATUS st;
        if (takeFault(t, uCode, iChan, &st))
            return complete(irp, st);
        // As the driver does: a receiving control record below its minimum
        // is refused before anything is sent.
        if ((uCode == IOCTL_YEK_GET || uCode == IOCTL_YEK_XCH) && cbOf(pioc->_cu) < cbYekControlUp)
            return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
        if (uCode == IOCTL_YEK_PROCHK) {
            size_t cb = cbOf(pioc->_dd);
            std::string sgSig = t._mpProto.empty() ? "" : t._mpProto[0].sgSignature;
            bool fOk = cb >= 1 && pioc->_dd._pchBase[cb - 1] == 0 &&
                       YekProto::match(sgSig.c_str(), pioc->_dd._pchBase);
            return complete(irp, fOk ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES);
        }
        if (uCode == IOCTL_YEK_PUT || uCode == IOCTL_YEK_XCH) {
            Msg m{iChan, std::string(pioc->_cd._pchBase, cbOf(pioc->_cd)),
                  std::string(pioc->_dd._pchBase ? pioc->_dd._pchBase : "", cbOf(pioc->_dd))};
            t._mpPut.push_back(m);
            auto fn = t._fnOnPut;
            lk.unlock();
            if (fn)
                fn(m);
            lk.lock();
            if (uCode == IOCTL_YEK_PUT)
                return complete(irp, STATUS_SUCCESS);
        }
        if (uCode == IOCTL_YEK_GET || uCode == IOCTL_YEK_XCH) {
            TestBoardDriver::Chan& ch = t._mpChan[iChan];
            if (!ch.dqAnswer.empty()) {
                deliver(pioc, ch.dqAnswer.front(), t._cbOverstate);
                ch.dqAnswer.pop_front();
                return complete(irp, STATUS_SUCCESS);
            }
            IoMarkIrpPending(irp);
            ch.pirpWaiting = irp;
            return STATUS_PENDING;
        }
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }

    static NTSTATUS onPnp(PDEVICE_OBJECT dev, PIRP irp)
    {
        auto* pe = static_cast<Ext*>(dev->DeviceExtension);
        PDEVICE_OBJECT pdoLower = pe->pdoLower;
        if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE) {
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoSkipCurrentIrpStackLocation(irp);
            NTSTATUS st = IoCallDriver(pdoLower, irp);
            UNICODE_STRING ul = ustr(pe->sgLink);
            IoDeleteSymbolicLink(&ul);
            pe->sgLink.~basic_string();
            IoDetachDevice(pdoLower);
            IoDeleteDevice(dev);
            return st;
        }
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(pdoLower, irp);
    }

    static NTSTATUS onAddDevice(PDRIVER_OBJECT drv, PDEVICE_OBJECT pdo)
    {
        std::string sgName = std::string(szYekDevBaseName) + "_0";
        std::u16string sgDev = kstub::widen(szYekDevObjPrefix + sgName);
        UNICODE_STRING ud = ustr(sgDev);
        PDEVICE_OBJECT dev = nullptr;
        NTSTATUS st = IoCreateDevice(drv, sizeof(Ext), &ud, FILE_DEVICE_UNKNOWN, 0, FALSE, &dev);
        if (!NT_SUCCESS(st))
            return st;
        auto* pe = new (dev->DeviceExtension) Ext{nullptr, kstub::widen(szYekDevLinkPrefix + sgName)};
        UNICODE_STRING ul = ustr(pe->sgLink);
        IoCreateSymbolicLink(&ul, &ud);
        pe->pdoLower = IoAttachDeviceToDeviceStack(dev, pdo);
        dev->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
        return STATUS_SUCCESS;
    }
};

TestBoardDriver& TestBoardDriver::the()
{
    static TestBoardDriver t;
    return t;
}

void TestBoardDriver::reset(std::vector<DrvProto> mpProto)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _mpProto = std::move(mpProto);
    _fnOnPut = nullptr;
    _mpFail.clear();
    _cbOverstate = 0;
    _mpChan[0] = Chan();
    _mpChan[1] = Chan();
    _mpsgOpen.clear();
    _mpCall.clear();
    _mpPut.clear();
}

void TestBoardDriver::setOnPut(std::function<void(const Msg&)> fn)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _fnOnPut = std::move(fn);
}

void TestBoardDriver::answer(int iChan, const KVdepYek100::YekControl& uc, const std::string& sgData)
{
    PIRP irp = nullptr;
    {
        std::lock_guard<std::mutex> lk(_mtx);
        Chan& ch = _mpChan[iChan];
        ch.dqAnswer.push_back(Msg{iChan, std::string(reinterpret_cast<const char*>(&uc), uc.size()), sgData});
        if (!ch.pirpWaiting)
            return;
        irp = ch.pirpWaiting;
        ch.pirpWaiting = nullptr;
        auto* pioc = static_cast<YekIoc*>(IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer);
        DriverAccess::deliver(pioc, ch.dqAnswer.front(), _cbOverstate);
        ch.dqAnswer.pop_front();
    }
    complete(irp, STATUS_SUCCESS);
}

void TestBoardDriver::failNext(ULONG uCode, NTSTATUS st, int iChan)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _mpFail.push_back(Fault{uCode, st, iChan});
}

void TestBoardDriver::overstateData(size_t cbMore)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _cbOverstate = cbMore;
}

bool TestBoardDriver::waitForWaitingGet()
{
    return kvtest::eventually([this] { return isGetWaiting(); });
}

bool TestBoardDriver::isGetWaiting()
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpChan[0].pirpWaiting || _mpChan[1].pirpWaiting;
}

bool TestBoardDriver::failWaitingGet(NTSTATUS st)
{
    PIRP irp = nullptr;
    {
        std::lock_guard<std::mutex> lk(_mtx);
        for (Chan& ch : _mpChan)
            if (ch.pirpWaiting) {
                irp = ch.pirpWaiting;
                ch.pirpWaiting = nullptr;
                break;
            }
    }
    if (irp)
        complete(irp, st);
    return irp != nullptr;
}

std::vector<std::string> TestBoardDriver::opens()
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpsgOpen;
}

std::vector<Call> TestBoardDriver::calls()
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpCall;
}

std::vector<Msg> TestBoardDriver::puts()
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpPut;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->DriverExtension->AddDevice = DriverAccess::onAddDevice;
    drv->MajorFunction[IRP_MJ_CREATE] = DriverAccess::onCreate;
    drv->MajorFunction[IRP_MJ_CLEANUP] = DriverAccess::onClose;
    drv->MajorFunction[IRP_MJ_CLOSE] = DriverAccess::onClose;
    drv->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DriverAccess::onIoctl;
    drv->MajorFunction[IRP_MJ_PNP] = DriverAccess::onPnp;
    return STATUS_SUCCESS;
}

}  // namespace devio_test
