// The USB bus stand-in: request blocks to device models, waiting bulk INs,
// faults, surprise removal and the log.
#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <set>
#include <thread>

#include "kv_usbbus.h"
#include "usbdlib.h"
#include "usbioctl.h"

namespace usbstub {

namespace {

struct Pipe {
    uint8_t ep = 0;
    uint8_t attributes = 0;
    uint16_t maxPacket = 0;
    uint8_t interval = 0;
    int index = 0;
    bool fValid = false;
};

struct Waiting {
    PIRP irp;
    PURB urb;
    Pipe* pipe;
    uint64_t seqLog;  // its entry in the log, while the log keeps it
};

constexpr uint64_t kNoEntry = ~uint64_t(0);

struct Done {
    PIRP irp;
    PURB urb;
    NTSTATUS st;
    USBD_STATUS us;
};

struct Knob {
    unsigned nth = 0;
    unsigned count = 0;
    NTSTATUS st = STATUS_SUCCESS;
    USBD_STATUS us = USBD_STATUS_SUCCESS;
};

struct Result {
    NTSTATUS st;
    USBD_STATUS us;
};

Result fromXfer(usbsim::UsbXfer x)
{
    switch (x) {
    case usbsim::UsbXfer::Ok:
        return {STATUS_SUCCESS, USBD_STATUS_SUCCESS};
    case usbsim::UsbXfer::Stall:
        return {STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID};
    case usbsim::UsbXfer::NoResponse:
        return {STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEV_NOT_RESPONDING};
    case usbsim::UsbXfer::Babble:
        return {STATUS_UNSUCCESSFUL, USBD_STATUS_BABBLE_DETECTED};
    case usbsim::UsbXfer::Pending:
        break;
    }
    return {STATUS_UNSUCCESSFUL, USBD_STATUS_REQUEST_FAILED};  // only a bulk IN may wait
}

// The bytes of a transfer: through the MDL when there is one, else the
// buffer. Null with *pfBad set when the request gives no usable memory.
PUCHAR dataOf(PVOID buf, PMDL mdl, ULONG cb, bool* pfBad)
{
    *pfBad = false;
    if (mdl) {
        if (!(mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL)))
            kstub::fatal("an MDL handed to the USB bus does not describe locked pages");
        if (MmGetMdlByteCount(mdl) < cb) {
            *pfBad = true;
            return nullptr;
        }
        auto* p = static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
        *pfBad = p == nullptr && cb > 0;
        return p;
    }
    if (cb > 0 && !buf)
        *pfBad = true;
    return static_cast<PUCHAR>(buf);
}

std::mutex g_mapMtx;
std::map<PDEVICE_OBJECT, UsbDevice::Impl*> g_byPdo;

VOID cancelWaiting(PDEVICE_OBJECT dev, PIRP irp);

}  // namespace

struct __attribute__((visibility("hidden"))) UsbDevice::Impl : kstub::BusDevice {
    UsbDevice& self;
    mutable std::mutex mtx;
    std::atomic<std::thread::id> owner{};
    std::atomic<bool> fPollWanted{false};
    bool fGone = false;
    bool fDeleted = false;
    std::deque<Pipe> pipes;
    char configToken = 0, interfaceToken = 0;
    std::deque<Waiting> waiting;
    kvring::Ring<UrbRecord> log{kstub::kDefaultLogCapacity};
    Knob knobs[kUrbKindCount];

    explicit Impl(UsbDevice& d) : self(d) {}

    struct Locked {
        Impl& d;
        std::unique_lock<std::mutex> lk;
        explicit Locked(Impl& dd) : d(dd), lk(dd.mtx) { d.owner.store(std::this_thread::get_id()); }
        void unlock()
        {
            d.owner.store(std::thread::id());
            lk.unlock();
        }
        ~Locked()
        {
            if (lk.owns_lock())
                unlock();
        }
    };

    bool takeKnob(UrbKind kind, Result* pr)
    {
        Knob& k = knobs[int(kind)];
        if (k.nth == 0)
            return false;
        if (k.nth > 1) {
            --k.nth;
            return false;
        }
        *pr = Result{k.st, k.us};
        if (k.count == 1)
            k.nth = 0;
        else if (k.count > 1)
            --k.count;
        return true;
    }

    Pipe* pipeOf(USBD_PIPE_HANDLE h)
    {
        for (Pipe& p : pipes)
            if (&p == h)
                return &p;
        return nullptr;
    }

    // A waiting bulk IN ends: logged, then completed once the lock is let go.
    void endWaiting(const Waiting& w, Result r, std::vector<Done>& done)
    {
        if (UrbRecord* prec = log.find(w.seqLog)) {
            prec->status = r.st;
            prec->usbdStatus = r.us;
            prec->fDone = true;
            if (prec->kind == UrbKind::BulkIn || prec->kind == UrbKind::BulkOut)
                prec->cbDone = w.urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
        }
        done.push_back(Done{w.irp, w.urb, r.st, r.us});
    }

    // A waiting bulk IN ends without data.
    void failWaiting(const Waiting& w, Result r, std::vector<Done>& done)
    {
        w.urb->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
        endWaiting(w, r, done);
    }

    // One attempt of a waiting bulk IN; false when the model still has nothing.
    bool tryIn(Waiting& w, std::vector<Done>& done)
    {
        auto& b = w.urb->UrbBulkOrInterruptTransfer;
        if (fGone || !w.pipe->fValid) {
            failWaiting(w, fGone ? Result{STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE}
                                 : Result{STATUS_CANCELLED, USBD_STATUS_CANCELED},
                        done);
            return true;
        }
        bool fBad = false;
        ULONG cbMax = b.TransferBufferLength;
        PUCHAR p = dataOf(b.TransferBuffer, b.TransferBufferMDL, cbMax, &fBad);
        std::size_t cb = 0;
        usbsim::UsbXfer x = self.model().bulkIn(w.pipe->ep, p, cbMax, &cb);
        if (x == usbsim::UsbXfer::Pending)
            return false;
        Result r = fromXfer(x);
        if (x == usbsim::UsbXfer::Ok) {
            if (cb > cbMax) {
                r = Result{STATUS_UNSUCCESSFUL, USBD_STATUS_BABBLE_DETECTED};
                cb = 0;
            } else if (cb < cbMax && !(b.TransferFlags & USBD_SHORT_TRANSFER_OK)) {
                r = Result{STATUS_UNSUCCESSFUL, USBD_STATUS_ERROR_SHORT_TRANSFER};
            }
            if (UrbRecord* prec = log.find(w.seqLog))
                prec->data.assign(p, p + cb);
        }
        b.TransferBufferLength = ULONG(cb);
        endWaiting(w, r, done);
        return true;
    }

    // Asks the model for the waiting bulk INs, the oldest of each endpoint
    // first, until nothing more moves.
    void pollWaiting(std::vector<Done>& done)
    {
        bool fMoved = true;
        while (fMoved) {
            fMoved = false;
            std::set<uint8_t> blocked;
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (blocked.count(it->pipe->ep)) {
                    ++it;
                    continue;
                }
                // Take the cancel routine away while the model writes into
                // the buffer; a request being cancelled is left to its
                // cancel routine.
                if (!IoSetCancelRoutine(it->irp, nullptr)) {
                    blocked.insert(it->pipe->ep);
                    ++it;
                    continue;
                }
                if (tryIn(*it, done)) {
                    it = waiting.erase(it);
                    fMoved = true;
                    continue;
                }
                IoSetCancelRoutine(it->irp, cancelWaiting);
                if (it->irp->Cancel && IoSetCancelRoutine(it->irp, nullptr)) {
                    failWaiting(*it, Result{STATUS_CANCELLED, USBD_STATUS_CANCELED}, done);
                    it = waiting.erase(it);
                    continue;
                }
                blocked.insert(it->pipe->ep);
                ++it;
            }
        }
    }

    // Lets go of the lock and completes what finished; polls again for a
    // notify that came in the meantime.
    void finish(Locked& l, std::vector<Done>& done)
    {
        for (;;) {
            while (fPollWanted.exchange(false))
                pollWaiting(done);
            l.unlock();
            for (Done& d : done) {
                d.urb->UrbHeader.Status = d.us;
                d.irp->IoStatus.Status = d.st;
                d.irp->IoStatus.Information = 0;
                IoCompleteRequest(d.irp, IO_NO_INCREMENT);
            }
            done.clear();
            if (!fPollWanted.load())
                return;
            l.lk.lock();
            l.d.owner.store(std::this_thread::get_id());
        }
    }

    void notifyFromModel()
    {
        fPollWanted.store(true);
        if (owner.load() == std::this_thread::get_id())
            return;  // inside a bus call: polled before that call ends
        Locked l(*this);
        std::vector<Done> done;
        finish(l, done);
    }

    Result getDescriptor(PURB urb, UrbRecord& rec)
    {
        auto& d = urb->UrbControlDescriptorRequest;
        rec.descriptorType = d.DescriptorType;
        rec.descriptorIndex = d.Index;
        rec.cbRequested = d.TransferBufferLength;
        rec.fMdl = d.TransferBufferMDL != nullptr;
        std::vector<uint8_t> bytes;
        if (d.DescriptorType == USB_DEVICE_DESCRIPTOR_TYPE)
            bytes = self.model().deviceDescriptor();
        else if (d.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE)
            bytes = self.model().configurationDescriptor(d.Index);
        else
            return {STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID};
        bool fBad = false;
        PUCHAR p = dataOf(d.TransferBuffer, d.TransferBufferMDL, d.TransferBufferLength, &fBad);
        if (fBad)
            return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
        std::size_t cb = std::min<std::size_t>(bytes.size(), d.TransferBufferLength);
        if (cb)
            std::memcpy(p, bytes.data(), cb);
        d.TransferBufferLength = ULONG(cb);
        rec.cbDone = ULONG(cb);
        rec.data.assign(bytes.begin(), bytes.begin() + std::ptrdiff_t(cb));
        return {STATUS_SUCCESS, USBD_STATUS_SUCCESS};
    }

    void invalidatePipes()
    {
        for (Pipe& p : pipes)
            p.fValid = false;
    }

    Result selectConfiguration(PURB urb, UrbRecord& rec)
    {
        auto& s = urb->UrbSelectConfiguration;
        PUSB_CONFIGURATION_DESCRIPTOR cfg = s.ConfigurationDescriptor;
        if (!cfg) {
            invalidatePipes();
            return fromXfer(self.model().setConfiguration(0));
        }
        rec.configurationValue = cfg->bConfigurationValue;
        if (cfg->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR))
            return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
        auto* p = reinterpret_cast<PUCHAR>(&s.Interface);
        auto* end = reinterpret_cast<PUCHAR>(urb) + urb->UrbHeader.Length;
        const std::size_t cbHead = offsetof(USBD_INTERFACE_INFORMATION, Pipes);
        std::vector<std::pair<PUSBD_INTERFACE_INFORMATION, PUSB_INTERFACE_DESCRIPTOR>> ifs;
        while (p + cbHead <= end) {
            auto* pii = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(p);
            if (pii->Length < cbHead || p + pii->Length > end)
                return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
            PUSB_INTERFACE_DESCRIPTOR pid = USBD_ParseConfigurationDescriptorEx(
                cfg, cfg, pii->InterfaceNumber, pii->AlternateSetting, -1, -1, -1);
            if (!pid)
                return {STATUS_INVALID_PARAMETER, USBD_STATUS_INTERFACE_NOT_FOUND};
            if (cbHead + sizeof(USBD_PIPE_INFORMATION) * pid->bNumEndpoints > pii->Length)
                return {STATUS_INVALID_PARAMETER, USBD_STATUS_BUFFER_TOO_SMALL};
            ifs.emplace_back(pii, pid);
            p += pii->Length;
        }
        // The endpoints of each interface follow its descriptor.
        std::vector<std::vector<PUSB_ENDPOINT_DESCRIPTOR>> eps;
        for (auto& f : ifs) {
            std::vector<PUSB_ENDPOINT_DESCRIPTOR> v;
            PUCHAR pos = reinterpret_cast<PUCHAR>(f.second) + f.second->bLength;
            while (v.size() < f.second->bNumEndpoints) {
                auto* pd = USBD_ParseDescriptors(cfg, cfg->wTotalLength, pos, USB_ENDPOINT_DESCRIPTOR_TYPE);
                if (!pd || pd->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR))
                    return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
                auto* pnext = USBD_ParseDescriptors(cfg, cfg->wTotalLength, pos, USB_INTERFACE_DESCRIPTOR_TYPE);
                if (pnext && reinterpret_cast<PUCHAR>(pnext) < reinterpret_cast<PUCHAR>(pd))
                    return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
                v.push_back(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(pd));
                pos = reinterpret_cast<PUCHAR>(pd) + pd->bLength;
            }
            eps.push_back(v);
        }
        Result r = fromXfer(self.model().setConfiguration(cfg->bConfigurationValue));
        for (std::size_t i = 0; NT_SUCCESS(r.st) && i < ifs.size(); ++i)
            r = fromXfer(self.model().setInterface(ifs[i].second->bInterfaceNumber,
                                                   ifs[i].second->bAlternateSetting));
        if (!NT_SUCCESS(r.st))
            return r;
        invalidatePipes();
        s.ConfigurationHandle = &configToken;
        for (std::size_t i = 0; i < ifs.size(); ++i) {
            PUSBD_INTERFACE_INFORMATION pii = ifs[i].first;
            PUSB_INTERFACE_DESCRIPTOR pid = ifs[i].second;
            pii->Class = pid->bInterfaceClass;
            pii->SubClass = pid->bInterfaceSubClass;
            pii->Protocol = pid->bInterfaceProtocol;
            pii->InterfaceHandle = &interfaceToken;
            pii->NumberOfPipes = pid->bNumEndpoints;
            for (std::size_t k = 0; k < eps[i].size(); ++k) {
                PUSB_ENDPOINT_DESCRIPTOR pe = eps[i][k];
                pipes.push_back(Pipe{pe->bEndpointAddress, pe->bmAttributes, pe->wMaxPacketSize,
                                     pe->bInterval, int(k), true});
                USBD_PIPE_INFORMATION& pi = pii->Pipes[k];
                pi.EndpointAddress = pe->bEndpointAddress;
                pi.MaximumPacketSize = pe->wMaxPacketSize;
                pi.Interval = pe->bInterval;
                pi.PipeType = USBD_PIPE_TYPE(pe->bmAttributes & USB_ENDPOINT_TYPE_MASK);
                pi.PipeHandle = &pipes.back();
                if (pi.MaximumTransferSize == 0)
                    pi.MaximumTransferSize = 0x10000;
            }
        }
        return r;
    }

    Result vendor(PURB urb, UrbRecord& rec)
    {
        auto& v = urb->UrbControlVendorClassRequest;
        rec.flags = v.TransferFlags;
        rec.request = v.Request;
        rec.value = v.Value;
        rec.index = v.Index;
        rec.cbRequested = v.TransferBufferLength;
        rec.fMdl = v.TransferBufferMDL != nullptr;
        if (v.TransferFlags & USBD_TRANSFER_DIRECTION_IN)
            return {STATUS_NOT_SUPPORTED, USBD_STATUS_NOT_SUPPORTED};
        bool fBad = false;
        PUCHAR p = dataOf(v.TransferBuffer, v.TransferBufferMDL, v.TransferBufferLength, &fBad);
        if (fBad)
            return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
        if (p)
            rec.data.assign(p, p + v.TransferBufferLength);
        rec.cbDone = v.TransferBufferLength;
        return fromXfer(self.model().vendorOut(v.Request, v.Value, v.Index, p, v.TransferBufferLength));
    }

    Result bulkOut(PURB urb, Pipe* pipe, UrbRecord& rec)
    {
        auto& b = urb->UrbBulkOrInterruptTransfer;
        bool fBad = false;
        PUCHAR p = dataOf(b.TransferBuffer, b.TransferBufferMDL, b.TransferBufferLength, &fBad);
        if (fBad)
            return {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
        if (p)
            rec.data.assign(p, p + b.TransferBufferLength);
        Result r = fromXfer(self.model().bulkOut(pipe->ep, p, b.TransferBufferLength));
        if (!NT_SUCCESS(r.st))
            b.TransferBufferLength = 0;
        return r;
    }

    NTSTATUS internalDeviceControl(PDEVICE_OBJECT pdo, PIRP irp) override
    {
        {
            std::lock_guard<std::mutex> lk(g_mapMtx);
            g_byPdo[pdo] = this;
        }
        PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
        PURB urb = static_cast<PURB>(sl->Parameters.Others.Argument1);
        if (sl->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB || !urb) {
            NTSTATUS st = urb ? STATUS_INVALID_DEVICE_REQUEST : STATUS_INVALID_PARAMETER;
            irp->IoStatus.Status = st;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return st;
        }
        if (KeGetCurrentIrql() > DISPATCH_LEVEL)
            kstub::fatal("a request block submitted above DISPATCH_LEVEL");
        std::vector<Done> done;
        Result r{STATUS_SUCCESS, USBD_STATUS_SUCCESS};
        bool fWait = false;
        Locked l(*this);
        UrbRecord rec;
        rec.function = urb->UrbHeader.Function;
        rec.length = urb->UrbHeader.Length;
        std::size_t cbMin = 0;
        Pipe* pipe = nullptr;
        switch (rec.function) {
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            rec.kind = UrbKind::GetDescriptor;
            cbMin = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
            break;
        case URB_FUNCTION_SELECT_CONFIGURATION:
            cbMin = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
            rec.kind = rec.length >= cbMin && urb->UrbSelectConfiguration.ConfigurationDescriptor
                           ? UrbKind::SelectConfiguration
                           : UrbKind::Deconfigure;
            break;
        case URB_FUNCTION_VENDOR_DEVICE:
            rec.kind = UrbKind::VendorOut;
            cbMin = sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
            break;
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER: {
            cbMin = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
            auto& b = urb->UrbBulkOrInterruptTransfer;
            pipe = rec.length >= cbMin ? pipeOf(b.PipeHandle) : nullptr;
            bool fIn = pipe ? USB_ENDPOINT_DIRECTION_IN(pipe->ep)
                            : (b.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
            rec.kind = fIn ? UrbKind::BulkIn : UrbKind::BulkOut;
            rec.flags = b.TransferFlags;
            rec.cbRequested = b.TransferBufferLength;
            rec.fMdl = b.TransferBufferMDL != nullptr;
            if (pipe) {
                rec.endpoint = pipe->ep;
                rec.pipeIndex = pipe->index;
            }
            break;
        }
        case URB_FUNCTION_ABORT_PIPE:
            rec.kind = UrbKind::AbortPipe;
            cbMin = sizeof(struct _URB_PIPE_REQUEST);
            pipe = rec.length >= cbMin ? pipeOf(urb->UrbPipeRequest.PipeHandle) : nullptr;
            if (pipe) {
                rec.endpoint = pipe->ep;
                rec.pipeIndex = pipe->index;
            }
            break;
        default:
            rec.kind = UrbKind::Other;
            break;
        }
        // The entry stays reachable through this call, kept by the log or not.
        uint64_t seqLog = 0;
        UrbRecord& lr = log.pushSlot(&seqLog);
        lr = rec;  // a copy: the slot keeps its storage
        // An abort is carried out on a device that went away too: what
        // waited there ended already, and the driver's clean-up goes on.
        if (fGone && rec.kind != UrbKind::AbortPipe)
            r = {STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE};
        else if (rec.kind == UrbKind::Other)
            r = {STATUS_NOT_SUPPORTED, USBD_STATUS_INVALID_URB_FUNCTION};
        else if (rec.length < cbMin)
            r = {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
        else if (takeKnob(rec.kind, &r)) {
        } else {
            switch (rec.kind) {
            case UrbKind::GetDescriptor:
                r = getDescriptor(urb, lr);
                break;
            case UrbKind::SelectConfiguration:
            case UrbKind::Deconfigure:
                r = selectConfiguration(urb, lr);
                break;
            case UrbKind::VendorOut:
                r = vendor(urb, lr);
                break;
            case UrbKind::AbortPipe:
                if (!pipe || !pipe->fValid) {
                    r = {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE};
                    break;
                }
                failWaitingOn(done, STATUS_CANCELLED, USBD_STATUS_CANCELED, pipe);
                break;
            case UrbKind::BulkOut:
            case UrbKind::BulkIn: {
                auto& b = urb->UrbBulkOrInterruptTransfer;
                if (!pipe || !pipe->fValid) {
                    r = {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE};
                    break;
                }
                bool fFlagIn = (b.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
                if (fFlagIn != (rec.kind == UrbKind::BulkIn)) {
                    r = {STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER};
                    break;
                }
                if (rec.kind == UrbKind::BulkOut) {
                    r = bulkOut(urb, pipe, lr);
                    break;
                }
                Waiting w{irp, urb, pipe, seqLog};
                bool fBehind = std::any_of(waiting.begin(), waiting.end(),
                                           [&](const Waiting& x) { return x.pipe == pipe; });
                if (!fBehind && tryIn(w, done)) {
                    Done d = done.back();
                    done.pop_back();
                    r = {d.st, d.us};
                    break;
                }
                fWait = true;
                lr.fPended = true;
                IoMarkIrpPending(irp);
                IoSetCancelRoutine(irp, cancelWaiting);
                waiting.push_back(w);
                break;
            }
            case UrbKind::Other:
                break;
            }
        }
        if (!fWait) {
            if (!lr.fDone) {
                lr.status = r.st;
                lr.usbdStatus = r.us;
                lr.fDone = true;
                if (rec.kind == UrbKind::BulkOut)
                    lr.cbDone = NT_SUCCESS(r.st) ? urb->UrbBulkOrInterruptTransfer.TransferBufferLength : 0;
            }
            if ((rec.kind == UrbKind::BulkIn || rec.kind == UrbKind::BulkOut) && !NT_SUCCESS(r.st))
                urb->UrbBulkOrInterruptTransfer.TransferBufferLength = lr.cbDone;
        }
        if (!fGone && rec.kind != UrbKind::Other)
            pollWaiting(done);  // a call into the model may have given a waiting IN its data
        finish(l, done);
        if (fWait)
            return STATUS_PENDING;
        urb->UrbHeader.Status = r.us;
        irp->IoStatus.Status = r.st;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return r.st;
    }

    // Ends the waiting bulk INs, those of one pipe or (null) all of them.
    void failWaitingOn(std::vector<Done>& done, NTSTATUS st, USBD_STATUS us, const Pipe* pipe = nullptr)
    {
        for (auto it = waiting.begin(); it != waiting.end();) {
            if ((pipe && it->pipe != pipe) || !IoSetCancelRoutine(it->irp, nullptr)) {
                ++it;  // another pipe's, or its cancel routine ends it
                continue;
            }
            failWaiting(*it, Result{st, us}, done);
            it = waiting.erase(it);
        }
    }

    void surpriseRemoved(PDEVICE_OBJECT) override
    {
        Locked l(*this);
        fGone = true;
        std::vector<Done> done;
        failWaitingOn(done, STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE);
        finish(l, done);
    }

    void deleted(PDEVICE_OBJECT pdo) override
    {
        {
            Locked l(*this);
            fGone = true;
            fDeleted = true;
            self.model().attach(std::function<void()>());
        }
        std::lock_guard<std::mutex> lk(g_mapMtx);
        g_byPdo.erase(pdo);
    }

    void cancel(PIRP irp)
    {
        std::vector<Done> done;
        Locked l(*this);
        for (auto it = waiting.begin(); it != waiting.end(); ++it)
            if (it->irp == irp) {
                failWaiting(*it, Result{STATUS_CANCELLED, USBD_STATUS_CANCELED}, done);
                waiting.erase(it);
                break;
            }
        finish(l, done);
    }
};

namespace {

VOID cancelWaiting(PDEVICE_OBJECT dev, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    UsbDevice::Impl* pi = nullptr;
    {
        std::lock_guard<std::mutex> lk(g_mapMtx);
        auto it = g_byPdo.find(dev);
        if (it != g_byPdo.end())
            pi = it->second;
    }
    if (pi)
        pi->cancel(irp);
}

}  // namespace

UsbDevice::UsbDevice(kstub::Kernel& k, usbsim::UsbDeviceModel& model)
    : _k(k), _pmodel(&model), _pi(new Impl(*this))
{
}

UsbDevice::~UsbDevice() = default;

void UsbDevice::failUrb(UrbKind kind, unsigned nth, NTSTATUS st, USBD_STATUS usbd, unsigned count)
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    _pi->knobs[int(kind)] = Knob{nth, count, st, usbd};
}

void UsbDevice::clearFaults()
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    for (Knob& k : _pi->knobs)
        k = Knob{};
}

std::vector<UrbRecord> UsbDevice::urbLog() const
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    return _pi->log.toVector();
}

void UsbDevice::setUrbLogCapacity(std::size_t n)
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    _pi->log.setCapacity(n);
}

uint64_t UsbDevice::urbCount() const
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    return _pi->log.total();
}

void UsbDevice::clearUrbLog()
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    // Waiting transfers keep their entries (those the log still has), in
    // the order they wait.
    std::vector<std::pair<Waiting*, UrbRecord>> kept;
    for (Waiting& w : _pi->waiting) {
        if (const UrbRecord* p = _pi->log.find(w.seqLog))
            kept.emplace_back(&w, *p);
        w.seqLog = kNoEntry;
    }
    _pi->log.clear();
    for (auto& k : kept)
        k.first->seqLog = _pi->log.push_back(std::move(k.second));
}

std::size_t UsbDevice::pendingIn() const
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    return _pi->waiting.size();
}

bool UsbDevice::isGone() const
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    return _pi->fGone;
}

void UsbDevice::surpriseRemove()
{
    if (_pi->fDeleted)
        return;
    _k.pnp().surpriseRemove(_pdo);
}

void UsbDevice::poll() { _pi->notifyFromModel(); }

UsbBus::UsbBus(kstub::Kernel& k) : _k(k) {}

UsbBus::~UsbBus()
{
    std::vector<UsbDevice*> left;
    {
        std::lock_guard<std::mutex> lk(_mtx);
        for (auto& d : _devices)
            left.push_back(d.get());
    }
    for (UsbDevice* d : left) {
        if (d->_pi->fDeleted)
            continue;  // its model may be gone already
        if (kstub::Kernel::current() == &_k) {
            _k.pnp().deletePdo(d->_pdo);
            if (!d->_pi->fDeleted)
                _k.pnp().forgetBus(d->_pdo);  // handles still open: the kernel deletes it later
        }
        if (!d->_pi->fDeleted) {
            std::lock_guard<std::mutex> lk(d->_pi->mtx);
            d->model().attach(std::function<void()>());
        }
        std::lock_guard<std::mutex> lk(g_mapMtx);
        g_byPdo.erase(d->_pdo);
    }
}

UsbDevice& UsbBus::plug(usbsim::UsbDeviceModel& model, const DeviceProps& props)
{
    unsigned n;
    UsbDevice* pd;
    {
        std::lock_guard<std::mutex> lk(_mtx);
        n = _cPlugged++;
        _devices.push_back(std::make_unique<UsbDevice>(_k, model));
        pd = _devices.back().get();
        pd->_pi->log.setCapacity(_cUrbLog);
    }
    UsbDevice::Impl* pi = pd->_pi.get();
    std::vector<uint8_t> dd;
    {
        std::lock_guard<std::mutex> lk(pi->mtx);  // the model is called under its device's lock
        model.attach([pi] { pi->notifyFromModel(); });
        dd = model.deviceDescriptor();
    }
    unsigned vid = dd.size() >= 12 ? unsigned(dd[8] | dd[9] << 8) : 0;
    unsigned pid = dd.size() >= 12 ? unsigned(dd[10] | dd[11] << 8) : 0;
    kstub::PdoProps pp;
    pp.name = "\\Device\\USBPDO-" + std::to_string(n);
    pp.instanceId = kstub::formatString("USB\\VID_%04X&PID_%04X\\%u", vid, pid, n);
    pp.driverKey = props.driverKey.empty()
                       ? kstub::widen(kstub::formatString("{7f3a2c10-5b1e-4c2d-9a61-0b9e5d7c4a21}\\%04u", n))
                       : props.driverKey;
    pp.deviceValues = props.deviceValues;
    if (props.cardType)
        pp.deviceValues.push_back(kstub::RegValue::dword("CardType", *props.cardType));
    pp.service = props.service;
    pd->_pdo = _k.pnp().createPdo(pp, pi);
    return *pd;
}

void UsbBus::unplug(UsbDevice& dev)
{
    if (!dev._pi->fDeleted)
        _k.pnp().deletePdo(dev._pdo);
}

std::vector<UsbDevice*> UsbBus::devices() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    std::vector<UsbDevice*> r;
    for (const auto& d : _devices)
        if (!d->_pi->fDeleted)
            r.push_back(d.get());
    return r;
}

void UsbBus::setUrbLogCapacity(std::size_t n)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _cUrbLog = n;
    for (const auto& d : _devices)
        d->setUrbLogCapacity(n);
}

UsbDevice* UsbBus::find(PDEVICE_OBJECT pdo) const
{
    std::lock_guard<std::mutex> lk(_mtx);
    for (const auto& d : _devices)
        if (d->_pdo == pdo)
            return d.get();
    return nullptr;
}

}  // namespace usbstub
