#include "sim/ezusb_board.h"

#include <algorithm>
#include <cstring>

#include "fwgen.h"
#include "sim/usb_descriptors.h"

namespace KVdepSim100 {

using usbsim::UsbXfer;
using Lock = std::unique_lock<std::recursive_mutex>;

namespace {

struct KnownImage {
    std::string _sgName;
    std::vector<KVdepFw100::FwRecord> _mprec;  // without the end record
};

const std::vector<KnownImage>& knownImages()
{
    static const std::vector<KnownImage> mpimg = [] {
        std::vector<KnownImage> mp;
        for (const KVdepFw100::FwImageInfo& info : KVdepFw100::fwImages()) {
            KnownImage img{info._szName, KVdepFw100::fwImage(info._szName)};
            img._mprec.pop_back();
            mp.push_back(std::move(img));
        }
        return mp;
    }();
    return mpimg;
}

int channelOfOut(uint8_t bEndpoint) { return bEndpoint == epDown0 ? 0 : bEndpoint == epDown1 ? 1 : -1; }
int channelOfIn(uint8_t bEndpoint) { return bEndpoint == epUp0 ? 0 : bEndpoint == epUp1 ? 1 : -1; }

// The answer's control as a message of another type.
std::vector<uint8_t> retyped(WireProto eProto, const WireMsg& msg, uint32_t eType)
{
    WireMsg msgNew = wireMsg(eProto, static_cast<int>(eType));
    if (!msgNew._pdesc) {
        std::vector<uint8_t> mpb = wireEncode(msg);
        if (!mpb.empty())
            mpb[0] = static_cast<uint8_t>(eType);
        return mpb;
    }
    for (const WireField& f : msgNew._pdesc->_mpField)
        if (msg.has(f._szName))
            msgNew.set(f._szName, msg.get(f._szName));
    return wireEncode(msgNew);
}

}  // namespace

EzUsbBoard::EzUsbBoard(std::string sgModel, uint16_t uPid, std::vector<uint8_t> mpbIdentity)
    : _sgModel(std::move(sgModel)), _uPid(uPid), _mpbIdentity(std::move(mpbIdentity)), _mpbMem(cbMemory, 0)
{
    _mpbMem[addrCpuControl] = 1;  // the CPU is held at power-up
}

EzUsbBoard::~EzUsbBoard() = default;

void EzUsbBoard::notify(Lock& lk)
{
    std::function<void()> fn = _fnNotify;
    lk.unlock();
    if (fn)
        fn();
}

// ---- what the bus calls ----

void EzUsbBoard::attach(std::function<void()> notify)
{
    Lock lk(_mx);
    _fnNotify = std::move(notify);
}

std::vector<uint8_t> EzUsbBoard::deviceDescriptor()
{
    Lock lk(_mx);
    if (_fUnplugged)
        return {};
    return _mpbDevDescOverride ? *_mpbDevDescOverride : deviceDescriptorBytes(0, _uPid, 0x0100);
}

std::vector<uint8_t> EzUsbBoard::configurationDescriptor(uint8_t iConfig)
{
    Lock lk(_mx);
    if (_fUnplugged || iConfig != 0)
        return {};
    return _mpbConfDescOverride ? *_mpbConfDescOverride : configurationDescriptorBytes(boardEndpoints());
}

UsbXfer EzUsbBoard::setConfiguration(uint8_t bConfigurationValue)
{
    Lock lk(_mx);
    if (_fUnplugged)
        return UsbXfer::NoResponse;
    if (bConfigurationValue != 0 && bConfigurationValue != bConfigValue)
        return UsbXfer::Stall;
    _bConfig = bConfigurationValue;
    _bAlt = 0;
    return UsbXfer::Ok;
}

UsbXfer EzUsbBoard::setInterface(uint8_t bIf, uint8_t bAlternate)
{
    Lock lk(_mx);
    if (_fUnplugged)
        return UsbXfer::NoResponse;
    if (_bConfig == 0 || bIf != bInterface || bAlternate > bAltBoard)
        return UsbXfer::Stall;
    _bAlt = bAlternate;
    return UsbXfer::Ok;
}

UsbXfer EzUsbBoard::vendorOut(uint8_t bRequest, uint16_t wValue, uint16_t, const uint8_t* pData, std::size_t cb)
{
    Lock lk(_mx);
    if (_fUnplugged)
        return UsbXfer::NoResponse;
    if (bRequest != bRequestFirmware || (cb > 0 && !pData) || wValue + cb > cbMemory)
        return UsbXfer::Stall;
    std::vector<uint8_t> mpb(pData, pData + cb);
    _mpVendor.push_back(VendorWrite{wValue, mpb, _fCpuHeld});
    if (cb > 0)
        std::memcpy(&_mpbMem[wValue], pData, cb);
    if (wValue <= addrCpuControl && addrCpuControl < wValue + cb) {
        if (_mpbMem[addrCpuControl] & 1)
            holdCpu();
        else
            releaseCpu();
    } else if (_fCpuHeld) {
        _mpwrDownload.emplace_back(wValue, std::move(mpb));
    }
    return UsbXfer::Ok;
}

bool EzUsbBoard::bulkReady() const { return _bConfig == bConfigValue && _bAlt == bAltBoard; }

UsbXfer EzUsbBoard::silentIn() const { return _fStallWhenSilent ? UsbXfer::Stall : UsbXfer::Pending; }

UsbXfer EzUsbBoard::bulkOut(uint8_t bEndpoint, const uint8_t* pData, std::size_t cb)
{
    Lock lk(_mx);
    if (_fUnplugged)
        return UsbXfer::NoResponse;
    int iChan = channelOfOut(bEndpoint);
    if (!bulkReady() || (iChan < 0 && bEndpoint != epUnusedOut) || (cb > 0 && !pData))
        return UsbXfer::Stall;
    if (_eProg == ProgramKind::Disconnected)
        return UsbXfer::NoResponse;
    if (_eProg != ProgramKind::Operating || iChan < 0)
        return UsbXfer::Ok;  // nobody reads it
    std::vector<uint8_t> mpb(pData, pData + cb);
    Channel& chan = _mpchan[iChan];
    if (!chan._fHaveCtrl) {
        chan._fHaveCtrl = true;
        chan._mpbCtrl = std::move(mpb);
        int eType = chan._mpbCtrl.empty() ? -1 : chan._mpbCtrl[0];
        if (!takeFaults(iChan, eType, [](const Fault& f) {
                 return f._eKind == FaultKind::Unplug && f._uValue == 0;
             }).empty())
            goAway();
        return UsbXfer::Ok;
    }
    chan._fHaveCtrl = false;
    std::vector<uint8_t> mpbCtrl = std::move(chan._mpbCtrl);
    process(iChan, mpbCtrl, mpb);
    return UsbXfer::Ok;
}

UsbXfer EzUsbBoard::bulkIn(uint8_t bEndpoint, uint8_t* pBuf, std::size_t cbMax, std::size_t* pcb)
{
    Lock lk(_mx);
    if (pcb)
        *pcb = 0;
    if (_fUnplugged)
        return UsbXfer::NoResponse;
    int iChan = channelOfIn(bEndpoint);
    if (!bulkReady() || (iChan < 0 && bEndpoint != epUnusedIn))
        return UsbXfer::Stall;
    if (_eProg == ProgramKind::Disconnected)
        return UsbXfer::NoResponse;
    if (iChan < 0 || _eProg != ProgramKind::Operating)
        return silentIn();
    std::deque<Packet>& q = _mpchan[iChan]._qUp;
    if (q.empty() || _fHold)
        return silentIn();
    Packet pkt = std::move(q.front());
    q.pop_front();
    if (pkt._mpb.size() > cbMax) {
        while (!pkt._fCtrl && !q.empty()) {  // the host gives up on this answer
            pkt = std::move(q.front());
            q.pop_front();
        }
        return UsbXfer::Babble;
    }
    const std::vector<uint8_t>& mpb = pkt._mpb;
    if (!mpb.empty())
        std::memcpy(pBuf, mpb.data(), mpb.size());
    if (pcb)
        *pcb = mpb.size();
    return UsbXfer::Ok;
}

// ---- the controller ----

void EzUsbBoard::holdCpu()
{
    _fCpuHeld = true;
    _eProg = ProgramKind::None;
    _sgImage.clear();
    _pprog = nullptr;
    _mpwrDownload.clear();
    for (Channel& chan : _mpchan)
        chan = Channel();
}

std::string EzUsbBoard::recognise() const
{
    for (const KnownImage& img : knownImages()) {
        if (img._mprec.size() != _mpwrDownload.size())
            continue;
        bool fSame = true;
        for (size_t i = 0; fSame && i < img._mprec.size(); ++i) {
            const KVdepFw100::FwRecord& rec = img._mprec[i];
            const auto& wr = _mpwrDownload[i];
            fSame = wr.first == rec._addr && wr.second.size() == rec._cData &&
                    std::equal(wr.second.begin(), wr.second.end(), rec._mpbData.begin());
        }
        if (fSame)
            return img._sgName;
    }
    return std::string();
}

void EzUsbBoard::releaseCpu()
{
    if (!_fCpuHeld)
        return;
    _fCpuHeld = false;
    _sgImage = recognise();
    _mpDownload.push_back(Download{_sgImage, _mpwrDownload.size()});
    _mpwrDownload.clear();
    if (_sgImage.empty()) {
        _eProg = ProgramKind::Unknown;
    } else if (_sgImage == "gid_firmware") {
        _eProg = ProgramKind::Idle;
    } else if (_sgImage == "gdc_firmware") {
        _eProg = ProgramKind::Disconnected;
    } else if (_sgImage == "qir_firmware") {
        _eProg = ProgramKind::Operating;
        _pqir = std::make_shared<QirProgram>(_mpbIdentity, &_hix);
        _pqir->setLogCapacity(_mpReq.capacity());
        _pprog = _pqir.get();
    } else {
        _eProg = ProgramKind::Operating;
        _psio = std::make_shared<SioProgram>(_mpbIdentity, &_sioBench);
        _psio->setLogCapacity(_mpReq.capacity());
        _pprog = _psio.get();
    }
}

// ---- requests and answers ----

std::vector<Fault> EzUsbBoard::takeFaults(int iChan, int eType, const std::function<bool(const Fault&)>& which)
{
    std::vector<Fault> mpf;
    for (ArmedFault& af : _mpFault) {
        if (!which(af._f) || af._cTimes == 0)
            continue;
        if ((af._f._eType >= 0 && af._f._eType != eType) || (af._f._iChan >= 0 && af._f._iChan != iChan))
            continue;
        if (af._cSkip > 0) {
            --af._cSkip;
            continue;
        }
        if (af._cTimes > 0)
            --af._cTimes;
        mpf.push_back(af._f);
    }
    _mpFault.erase(std::remove_if(_mpFault.begin(), _mpFault.end(),
                                  [](const ArmedFault& af) { return af._cTimes == 0; }),
                   _mpFault.end());
    return mpf;
}

void EzUsbBoard::process(int iChan, const std::vector<uint8_t>& mpbCtrl, const std::vector<uint8_t>& mpbData)
{
    RequestRecord& rec = _mpReq.pushSlot();  // a full log reuses the slot's storage
    rec._iChan = iChan;
    rec._mpbCtrl.assign(mpbCtrl.begin(), mpbCtrl.end());
    rec._mpbData.assign(mpbData.begin(), mpbData.end());
    int eType = mpbCtrl.empty() ? -1 : mpbCtrl[0];
    if (!takeFaults(iChan, eType, [](const Fault& f) {
             return f._eKind == FaultKind::Unplug && f._uValue != 0;
         }).empty()) {
        goAway();
        return;
    }
    if (_hook) {
        std::optional<RawAnswer> raw = _hook(iChan, mpbCtrl, mpbData);
        if (raw) {
            if (!raw->_fSilent) {
                queueUp(iChan, std::move(raw->_mpbData), std::move(raw->_mpbCtrl));
            }
            return;
        }
    }
    WireDecode dec = wireDecode(_pprog->proto(), mpbCtrl);
    if (dec._eErr != WireError::None) {
        _mpErr.push_back(ProtocolError{iChan, mpbCtrl, wireErrorText(dec._eErr)});
        return;
    }
    Answer ans = _pprog->handle(iChan, dec._msg, mpbData);
    if (ans._fSilent) {
        if (ans._szRefused)
            _mpErr.push_back(ProtocolError{iChan, mpbCtrl, ans._szRefused});
        return;
    }
    queueAnswer(iChan, eType, std::move(ans));
}

void EzUsbBoard::queueAnswer(int iChan, int eTypeRequest, Answer ans)
{
    std::vector<Fault> mpf =
        takeFaults(iChan, eTypeRequest, [](const Fault& f) { return f._eKind != FaultKind::Unplug; });
    std::vector<uint8_t> mpbCtrl;
    bool fRetyped = false;
    for (const Fault& f : mpf) {
        switch (f._eKind) {
        case FaultKind::NoAnswer:
            return;
        case FaultKind::ErrorCode:
            ans._ctrl.set("eErr", f._uValue);
            break;
        case FaultKind::WrongType:
            mpbCtrl = retyped(_pprog->proto(), ans._ctrl, f._uValue);
            fRetyped = true;
            break;
        default:
            break;
        }
    }
    if (!fRetyped)
        mpbCtrl = wireEncode(ans._ctrl);
    for (const Fault& f : mpf) {
        if (f._eKind == FaultKind::TruncateControl)
            mpbCtrl.resize(std::min<size_t>(mpbCtrl.size(), f._uValue));
        else if (f._eKind == FaultKind::OversizeControl)
            mpbCtrl.resize(std::max<size_t>(mpbCtrl.size(), f._uValue), 0);
        else if (f._eKind == FaultKind::OversizeData)
            ans._mpbData.resize(std::max<size_t>(ans._mpbData.size(), f._uValue), 0);
    }
    queueUp(iChan, std::move(ans._mpbData), std::move(mpbCtrl));
}

void EzUsbBoard::queueUp(int iChan, std::vector<uint8_t> mpbData, std::vector<uint8_t> mpbCtrl)
{
    _mpchan[iChan]._qUp.push_back(Packet{std::move(mpbData), false});
    _mpchan[iChan]._qUp.push_back(Packet{std::move(mpbCtrl), true});
}

void EzUsbBoard::goAway()
{
    _fUnplugged = true;
    for (Channel& chan : _mpchan)
        chan = Channel();
}

// ---- state and set-up ----

std::vector<uint8_t> EzUsbBoard::identity() const
{
    Lock lk(_mx);
    return _mpbIdentity;
}

void EzUsbBoard::setIdentity(std::vector<uint8_t> mpb)
{
    Lock lk(_mx);
    _mpbIdentity = std::move(mpb);
    if (_pqir)
        _pqir->setIdentity(_mpbIdentity);
    if (_psio)
        _psio->setIdentity(_mpbIdentity);
}

bool EzUsbBoard::isCpuHeld() const
{
    Lock lk(_mx);
    return _fCpuHeld;
}

ProgramKind EzUsbBoard::programKind() const
{
    Lock lk(_mx);
    return _eProg;
}

std::string EzUsbBoard::runningImage() const
{
    Lock lk(_mx);
    return _sgImage;
}

uint8_t EzUsbBoard::memory(uint16_t addr) const
{
    Lock lk(_mx);
    return _mpbMem[addr];
}

std::vector<VendorWrite> EzUsbBoard::vendorWrites() const
{
    Lock lk(_mx);
    return _mpVendor.toVector();
}

std::vector<Download> EzUsbBoard::downloads() const
{
    Lock lk(_mx);
    return _mpDownload.toVector();
}

uint8_t EzUsbBoard::configurationValue() const
{
    Lock lk(_mx);
    return _bConfig;
}

uint8_t EzUsbBoard::alternateSetting() const
{
    Lock lk(_mx);
    return _bAlt;
}

std::shared_ptr<QirProgram> EzUsbBoard::qir() const
{
    Lock lk(_mx);
    return _pqir;
}

std::shared_ptr<SioProgram> EzUsbBoard::sio() const
{
    Lock lk(_mx);
    return _psio;
}

void EzUsbBoard::setSignal(int iChan, InputSignal sig)
{
    Lock lk(_mx);
    _hix._mpSignal[iChan & 1] = std::move(sig);
}

void EzUsbBoard::scriptLine(int iChan, uint64_t tRelease, const FifoLine& line)
{
    Lock lk(_mx);
    ScriptedLine sl{tRelease, line};
    _hix._mpScript[iChan & 1].push_back(sl);
    if (_pprog && _pprog == _pqir.get())
        _pqir->fpga().injectScripted(iChan & 1, sl);
}

void EzUsbBoard::clearScript(int iChan)
{
    Lock lk(_mx);
    _hix._mpScript[iChan & 1].clear();
}

void EzUsbBoard::setFpgaOptions(const FpgaOptions& opt)
{
    Lock lk(_mx);
    _hix._opt = opt;
}

FpgaOptions EzUsbBoard::fpgaOptions() const
{
    Lock lk(_mx);
    return _hix._opt;
}

void EzUsbBoard::forceFillCount(int iChan, uint32_t u)
{
    Lock lk(_mx);
    _hix._mpFillForced[iChan & 1] = u;
}

void EzUsbBoard::forceFifoWord(int iChan, uint16_t w)
{
    Lock lk(_mx);
    _hix._mpWordForced[iChan & 1] = w;
}

void EzUsbBoard::clearForced()
{
    Lock lk(_mx);
    for (int i = 0; i < 2; ++i) {
        _hix._mpFillForced[i].reset();
        _hix._mpWordForced[i].reset();
    }
}

void EzUsbBoard::advanceClock(uint64_t cTicks)
{
    Lock lk(_mx);
    if (_pprog && _pprog == _pqir.get())
        _pqir->fpga().advance(cTicks);
}

void EzUsbBoard::setSioInputs(uint16_t u)
{
    Lock lk(_mx);
    _sioBench._uInputs = u;
}

void EzUsbBoard::setSioLoopback(bool f)
{
    Lock lk(_mx);
    _sioBench._fLoopback = f;
}

void EzUsbBoard::injectFault(const Fault& fault)
{
    Lock lk(_mx);
    _mpFault.push_back(ArmedFault{fault, fault._cSkip, fault._cTimes});
}

void EzUsbBoard::clearFaults()
{
    Lock lk(_mx);
    _mpFault.clear();
}

void EzUsbBoard::unplug()
{
    Lock lk(_mx);
    goAway();
    notify(lk);
}

bool EzUsbBoard::isUnplugged() const
{
    Lock lk(_mx);
    return _fUnplugged;
}

void EzUsbBoard::replug()
{
    Lock lk(_mx);
    holdCpu();
    _fUnplugged = false;
    _fHold = false;
    _bConfig = 0;
    _bAlt = 0;
    std::fill(_mpbMem.begin(), _mpbMem.end(), 0);
    _mpbMem[addrCpuControl] = 1;
}

void EzUsbBoard::holdAnswers(bool f)
{
    Lock lk(_mx);
    _fHold = f;
    if (!f)
        notify(lk);
}

void EzUsbBoard::pushAnswer(int iChan, std::vector<uint8_t> mpbCtrl, std::vector<uint8_t> mpbData)
{
    Lock lk(_mx);
    queueUp(iChan & 1, std::move(mpbData), std::move(mpbCtrl));
    notify(lk);
}

void EzUsbBoard::setStallWhenSilent(bool f)
{
    Lock lk(_mx);
    _fStallWhenSilent = f;
    notify(lk);
}

void EzUsbBoard::setRequestHook(RequestHook hook)
{
    Lock lk(_mx);
    _hook = std::move(hook);
}

void EzUsbBoard::overrideDeviceDescriptor(std::vector<uint8_t> mpb)
{
    Lock lk(_mx);
    _mpbDevDescOverride = std::move(mpb);
}

void EzUsbBoard::overrideConfigurationDescriptor(std::vector<uint8_t> mpb)
{
    Lock lk(_mx);
    _mpbConfDescOverride = std::move(mpb);
}

std::vector<RequestRecord> EzUsbBoard::requests() const
{
    Lock lk(_mx);
    return _mpReq.toVector();
}

std::vector<ProtocolError> EzUsbBoard::protocolErrors() const
{
    Lock lk(_mx);
    return _mpErr.kept();
}

std::size_t EzUsbBoard::cProtocolErrors() const
{
    Lock lk(_mx);
    return std::size_t(_mpErr.total());
}

void EzUsbBoard::setLogCapacity(std::size_t n)
{
    Lock lk(_mx);
    _mpVendor.setCapacity(n);
    _mpDownload.setCapacity(n);
    _mpReq.setCapacity(n);
    if (_pqir)
        _pqir->setLogCapacity(n);
    if (_psio)
        _psio->setLogCapacity(n);
}

size_t EzUsbBoard::cPacketsWaiting(int iChan) const
{
    Lock lk(_mx);
    return _mpchan[iChan & 1]._qUp.size();
}

void EzUsbBoard::clearLogs()
{
    Lock lk(_mx);
    _mpVendor.clear();
    _mpDownload.clear();
    _mpReq.clear();
    _mpErr.clear();
}

}  // namespace KVdepSim100
