// The PCI bus stand-in: port ranges mapped to board models, the resources of
// the start request, interrupt delivery and surprise removal.
#include "kv_pcibus.h"

namespace pcistub {

namespace {

uint32_t allOnes(uint8_t cb)
{
    return cb == 1 ? 0xFFu : cb == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}

uint32_t rangeOf(uint32_t cb)
{
    uint32_t u = 16;
    while (u < cb)
        u <<= 1;
    return u;
}

}  // namespace

// What the port handlers and the plug-and-play manager reach of a device; it
// outlives the device record for handlers the kernel still holds.
struct PciDevice::Impl : kstub::BusDevice {
    std::mutex mtx;
    pcisim::PciDeviceModel* pmodel = nullptr;  // null once the device is deleted
    bool fGone = false;
    bool fDeleted = false;

    NTSTATUS internalDeviceControl(PDEVICE_OBJECT, PIRP irp) override
    {
        // A PCI board takes no internal requests from its function driver.
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_NOT_SUPPORTED;
    }

    void surpriseRemoved(PDEVICE_OBJECT) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        fGone = true;
    }

    void deleted(PDEVICE_OBJECT) override
    {
        std::lock_guard<std::mutex> lk(mtx);
        fGone = true;
        fDeleted = true;
        if (pmodel)
            pmodel->attach(std::function<void(bool)>());
        pmodel = nullptr;
    }

    uint32_t read(int iBar, uint32_t uOffset, uint8_t cb)
    {
        std::lock_guard<std::mutex> lk(mtx);
        if (fGone || !pmodel)
            return allOnes(cb);
        return pmodel->ioRead(iBar, uOffset, cb);
    }

    void write(int iBar, uint32_t uOffset, uint8_t cb, uint32_t u)
    {
        std::lock_guard<std::mutex> lk(mtx);
        if (!fGone && pmodel)
            pmodel->ioWrite(iBar, uOffset, cb, u);
    }
};

PciDevice::PciDevice(kstub::Kernel& k, pcisim::PciDeviceModel& model)
    : _k(k), _pmodel(&model), _pi(std::make_shared<Impl>())
{
    _pi->pmodel = &model;
}

PciDevice::~PciDevice() = default;

uint16_t PciDevice::ioBase(int iBar) const
{
    return iBar >= 0 && static_cast<size_t>(iBar) < _mpuBase.size() ? _mpuBase[iBar] : 0;
}

bool PciDevice::interrupt()
{
    if (isGone() || !_fLine.load())
        return false;
    // Outside the device's lock: the routines reach the board through its ports.
    return _k.raiseInterrupt(_uVector);
}

std::vector<kstub::PortAccess> PciDevice::accesses() const
{
    std::vector<kstub::PortAccess> r;
    for (const kstub::PortAccess& a : _k.ports().log())
        for (size_t i = 0; i < _mpuBase.size(); ++i)
            if (a.port >= _mpuBase[i] && a.port < uint32_t(_mpuBase[i]) + _mpcb[i]) {
                r.push_back(a);
                break;
            }
    return r;
}

void PciDevice::surpriseRemove()
{
    {
        std::lock_guard<std::mutex> lk(_pi->mtx);
        if (_pi->fDeleted)
            return;
        _pi->fGone = true;
    }
    _k.pnp().surpriseRemove(_pdo);
}

bool PciDevice::isGone() const
{
    std::lock_guard<std::mutex> lk(_pi->mtx);
    return _pi->fGone;
}

PciBus::PciBus(kstub::Kernel& k) : _k(k) {}

PciBus::~PciBus()
{
    std::vector<PciDevice*> left;
    {
        std::lock_guard<std::mutex> lk(_mtx);
        for (auto& d : _devices)
            left.push_back(d.get());
    }
    for (PciDevice* d : left) {
        {
            std::lock_guard<std::mutex> lk(d->_pi->mtx);
            if (d->_pi->fDeleted)
                continue;  // its model may be gone already
        }
        if (kstub::Kernel::current() == &_k) {
            _k.pnp().deletePdo(d->_pdo);
            std::lock_guard<std::mutex> lk(d->_pi->mtx);
            if (!d->_pi->fDeleted)
                _k.pnp().forgetBus(d->_pdo);  // handles still open: the kernel deletes it later
        }
        std::lock_guard<std::mutex> lk(d->_pi->mtx);
        if (d->_pi->pmodel)
            d->_pi->pmodel->attach(std::function<void(bool)>());
        d->_pi->pmodel = nullptr;
        d->_pi->fGone = true;
    }
}

PciDevice& PciBus::plug(pcisim::PciDeviceModel& model, const PciProps& props)
{
    unsigned n;
    PciDevice* pd;
    std::vector<uint32_t> mpcb = model.ioRegions();
    {
        std::lock_guard<std::mutex> lk(_mtx);
        n = _cPlugged++;
        _devices.push_back(std::make_unique<PciDevice>(_k, model));
        pd = _devices.back().get();
        pd->_mpcb = mpcb;
        for (uint32_t cb : mpcb) {
            uint32_t cbRange = rangeOf(cb);
            uint32_t uBase = (_uPortNext + cbRange - 1) & ~(cbRange - 1);
            _uPortNext = uBase + cbRange;
            pd->_mpuBase.push_back(static_cast<uint16_t>(uBase));
        }
    }
    std::shared_ptr<PciDevice::Impl> pi = pd->_pi;
    for (size_t i = 0; i < mpcb.size(); ++i) {
        int iBar = static_cast<int>(i);
        uint16_t uBase = pd->_mpuBase[i];
        _k.ports().map(
            uBase, static_cast<uint16_t>(mpcb[i]),
            [pi, iBar, uBase](uint16_t port, uint8_t cb) { return pi->read(iBar, port - uBase, cb); },
            [pi, iBar, uBase](uint16_t port, uint8_t cb, uint32_t u) { pi->write(iBar, port - uBase, cb, u); });
    }
    {
        std::lock_guard<std::mutex> lk(pi->mtx);
        model.attach([pd](bool f) { pd->_fLine.store(f); });
    }
    pd->_uVector = props.uVector ? props.uVector : 0x40 + n;
    if (!props.fNoResources) {
        for (size_t i = 0; i < mpcb.size(); ++i) {
            bool fOmit = false;
            for (int iBar : props.omitBars)
                fOmit = fOmit || iBar == static_cast<int>(i);
            if (fOmit)
                continue;
            kstub::Resource r;
            r.kind = kstub::Resource::Port;
            r.start = pd->_mpuBase[i];
            r.length = mpcb[i];
            r.flags = CM_RESOURCE_PORT_IO;
            pd->_mpres.push_back(r);
        }
        if (props.fInterrupt) {
            kstub::Resource r;
            r.kind = kstub::Resource::Interrupt;
            r.level = props.uLevel;
            r.vector = pd->_uVector;
            r.affinity = props.uAffinity;
            r.flags = props.fLatched ? CM_RESOURCE_INTERRUPT_LATCHED : CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
            r.share = props.fShared ? CmResourceShareShared : CmResourceShareDeviceExclusive;
            pd->_mpres.push_back(r);
        }
        pd->_mpres.insert(pd->_mpres.end(), props.extra.begin(), props.extra.end());
    }
    kstub::PdoProps pp;
    pp.name = "\\Device\\PCIPDO-" + std::to_string(n);
    pp.instanceId = kstub::formatString("PCI\\VEN_%04X&DEV_%04X\\%u", unsigned(model.vendorId()),
                                        unsigned(model.deviceId()), n);
    pp.driverKey = props.driverKey.empty()
                       ? kstub::widen(kstub::formatString("{4d36e97d-e325-11ce-bfc1-08002be10318}\\%04u", n))
                       : props.driverKey;
    pp.deviceValues = props.deviceValues;
    if (props.cardType)
        pp.deviceValues.push_back(kstub::RegValue::dword("CardType", *props.cardType));
    pp.resources = pd->_mpres;
    pp.service = props.service;
    pd->_pdo = _k.pnp().createPdo(pp, pi.get());
    return *pd;
}

void PciBus::unplug(PciDevice& dev)
{
    {
        std::lock_guard<std::mutex> lk(dev._pi->mtx);
        if (dev._pi->fDeleted)
            return;
    }
    _k.pnp().deletePdo(dev._pdo);
}

std::vector<PciDevice*> PciBus::devices() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    std::vector<PciDevice*> r;
    for (const auto& d : _devices) {
        std::lock_guard<std::mutex> lkd(d->_pi->mtx);
        if (!d->_pi->fDeleted)
            r.push_back(d.get());
    }
    return r;
}

}  // namespace pcistub
