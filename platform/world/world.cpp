#include "kv_world.h"

#include <sstream>

namespace kvworld {

bool Report::clean() const
{
    return poolOutstanding == 0 && irps == 0 && mdls == 0 && devices == 0 && handles == 0 &&
           problems.empty();
}

std::string Report::text() const
{
    std::ostringstream os;
    os << "pool blocks left " << poolOutstanding << " (" << poolBytes << " bytes), requests " << irps
       << ", MDLs " << mdls << ", device objects " << devices << ", handles " << handles;
    if (!poolBlocks.empty())
        os << "\n" << poolBlocks;
    for (const auto& p : problems)
        os << "\nproblem: " << p;
    return os.str();
}

World::World(const std::string& service)
    : _service(service), _pk(new kstub::Kernel), _pbus(new usbstub::UsbBus(*_pk)), _ppci(new pcistub::PciBus(*_pk))
{
    _pk->registry().createKey(servicePath());
}

World::~World()
{
    if (!_fTornDown)
        teardown();
    _ppci.reset();
    _pbus.reset();
    _pk.reset();
}

void World::setDebug(uint32_t mask) { setServiceValue(kstub::RegValue::dword("Debug", mask)); }

void World::setServiceValue(const kstub::RegValue& v) { _pk->registry().setValue(servicePath(), v); }

usbstub::UsbDevice& World::plug(usbsim::UsbDeviceModel& model, std::optional<uint32_t> cardType,
                                const std::u16string& driverKey)
{
    usbstub::DeviceProps props;
    props.cardType = cardType;
    props.driverKey = driverKey;
    props.service = _service;
    return _pbus->plug(model, props);
}

pcistub::PciDevice& World::plugPci(pcisim::PciDeviceModel& model, pcistub::PciProps props)
{
    props.service = _service;
    return _ppci->plug(model, props);
}

NTSTATUS World::loadDriver(const std::string& modulePath) { return _pk->loadDriver(modulePath, _service); }

NTSTATUS World::loadDriver(PDRIVER_INITIALIZE entry) { return _pk->loadDriver(entry, _service); }

void World::setLogCapacity(std::size_t n)
{
    _pk->setLogCapacity(n);
    _pbus->setUrbLogCapacity(n);
}

NTSTATUS World::startDevices()
{
    NTSTATUS stFirst = STATUS_SUCCESS;
    std::vector<PDEVICE_OBJECT> pdos;
    for (usbstub::UsbDevice* d : _pbus->devices())
        pdos.push_back(d->pdo());
    for (pcistub::PciDevice* d : _ppci->devices())
        pdos.push_back(d->pdo());
    for (PDEVICE_OBJECT pdo : pdos) {
        kstub::DevState s = _pk->pnp().state(pdo);
        NTSTATUS st = STATUS_SUCCESS;
        if (s == kstub::DevState::Present || s == kstub::DevState::Removed)
            st = _pk->pnp().enumerate(pdo);
        else if (s == kstub::DevState::Added || s == kstub::DevState::Stopped)
            st = _pk->pnp().start(pdo);
        if (!NT_SUCCESS(st) && NT_SUCCESS(stFirst))
            stFirst = st;
    }
    return stFirst;
}

Report World::teardown()
{
    Report r;
    if (_fTornDown)
        return r;
    _fTornDown = true;
    std::vector<std::string> notes;
    // A device the driver has added is removed before it is unplugged.
    auto removeAdded = [&](PDEVICE_OBJECT pdo) {
        kstub::DevState s = _pk->pnp().state(pdo);
        if (s == kstub::DevState::Added || s == kstub::DevState::Started || s == kstub::DevState::Stopped) {
            NTSTATUS st = _pk->pnp().remove(pdo);
            if (!NT_SUCCESS(st))
                notes.push_back(kstub::formatString("removal of a device refused (0x%08X): handles open?",
                                                    unsigned(st)));
        }
    };
    for (usbstub::UsbDevice* d : _pbus->devices()) {
        removeAdded(d->pdo());
        _pbus->unplug(*d);
    }
    for (pcistub::PciDevice* d : _ppci->devices()) {
        removeAdded(d->pdo());
        _ppci->unplug(*d);
    }
    _pk->unloadDriver(_service);
    r.poolOutstanding = _pk->pool().outstanding();
    r.poolBytes = _pk->pool().outstandingBytes();
    r.poolBlocks = _pk->pool().describeOutstanding();
    r.irps = _pk->irpsOutstanding();
    r.mdls = _pk->mdlsOutstanding();
    r.devices = _pk->deviceCount();
    r.handles = _pk->openHandles();
    r.problems = _pk->problems();
    r.problems.insert(r.problems.end(), notes.begin(), notes.end());
    return r;
}

}  // namespace kvworld
