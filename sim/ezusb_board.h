// A simulated USB board with an EZ-USB controller, as the USB bus stand-in
// sees it.
//
// The controller has 64 KiB of memory. Vendor request 0xA0 writes memory at the
// request's value; the byte at 0xE600 holds the CPU (1) or lets it run (0).
// At power-up the CPU is held and no program runs. When the CPU is let run, the
// board compares the memory writes made since it was held with the stand-in
// firmware images (exactly, record by record, in order) and runs the program
// of the image it finds: the idle program (no answers), the program of a
// disconnected board (bulk transfers answer NoResponse) or an operating
// program, "qir" (qir_firmware) or "sio" (sio_firmware, wex_firmware). Any
// other download leaves the board without a program. Holding the CPU stops the
// program and drops every queued packet; the configuration stays.
//
// The descriptors are the same from power-up on, whatever runs. Bulk
// transfers need configuration 1 with interface 0 in alternate setting 1. An
// operating program reads each request from the channel's OUT endpoint as two
// transfers, the control then the data (possibly zero-length), and queues its
// answer on the channel's IN endpoint as the data (a short transfer, possibly
// zero-length) then the control. A bulk IN with nothing to send answers
// Pending (or Stall, see setStallWhenSilent); a packet longer than the IN
// transfer answers Babble and the rest of its answer is dropped.
//
// What a test wires to the board (signals, scripted FIFO lines, input lines)
// and the faults it sets stay across downloads; each start of an operating
// program begins with fresh registers, FIFOs and configuration state. The last
// program of each kind stays inspectable after it stopped.
//
// Every public operation takes the board's lock, so a test thread may act on
// the board while the bus calls it from another.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/common/include/kv_ring.h"
#include "sim/board_faults.h"
#include "sim/board_program.h"
#include "sim/measuring_fpga.h"
#include "platform/usb/usb_device_model.h"
#include "sim/qir_program.h"
#include "sim/sio_program.h"

namespace KVdepSim100 {

const uint8_t bRequestFirmware = 0xA0;
const uint16_t addrCpuControl = 0xE600;

enum class ProgramKind { None, Unknown, Idle, Disconnected, Operating };

struct VendorWrite {
    uint16_t _addr;
    std::vector<uint8_t> _mpb;
    bool _fHeld;  // the CPU was held when the write came
};

struct Download {
    std::string _sgImage;  // name of the image recognised, empty when none
    size_t _cWrites;       // memory writes between hold and release
};

struct RequestRecord {
    int _iChan;
    std::vector<uint8_t> _mpbCtrl;
    std::vector<uint8_t> _mpbData;
};

constexpr std::size_t kMaxProtocolErrors = 64;

struct ProtocolError {
    int _iChan;
    std::vector<uint8_t> _mpbCtrl;
    std::string _sgWhat;
};

// What a request hook answers in place of the program.
struct RawAnswer {
    std::vector<uint8_t> _mpbData;
    std::vector<uint8_t> _mpbCtrl;
    bool _fSilent = false;  // nothing goes back
};
using RequestHook = std::function<std::optional<RawAnswer>(int iChan, const std::vector<uint8_t>& mpbCtrl,
                                                           const std::vector<uint8_t>& mpbData)>;

class EzUsbBoard : public usbsim::UsbDeviceModel {
public:
    static const size_t cbMemory = 0x10000;

    EzUsbBoard(std::string sgModel, uint16_t uPid, std::vector<uint8_t> mpbIdentity);
    ~EzUsbBoard() override;

    // What the bus calls.
    void attach(std::function<void()> notify) override;
    std::vector<uint8_t> deviceDescriptor() override;
    std::vector<uint8_t> configurationDescriptor(uint8_t iConfig) override;
    usbsim::UsbXfer setConfiguration(uint8_t bConfigurationValue) override;
    usbsim::UsbXfer setInterface(uint8_t bInterface, uint8_t bAlternate) override;
    usbsim::UsbXfer vendorOut(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, const uint8_t* pData,
                              std::size_t cb) override;
    usbsim::UsbXfer bulkOut(uint8_t bEndpoint, const uint8_t* pData, std::size_t cb) override;
    usbsim::UsbXfer bulkIn(uint8_t bEndpoint, uint8_t* pBuf, std::size_t cbMax, std::size_t* pcb) override;

    // The board.
    const std::string& model() const { return _sgModel; }
    std::vector<uint8_t> identity() const;
    void setIdentity(std::vector<uint8_t> mpb);  // answered from the next VaqInit on
    bool isCpuHeld() const;
    ProgramKind programKind() const;
    std::string runningImage() const;  // the image whose program runs, empty when none
    uint8_t memory(uint16_t addr) const;
    std::vector<VendorWrite> vendorWrites() const;
    std::vector<Download> downloads() const;
    uint8_t configurationValue() const;
    uint8_t alternateSetting() const;

    // The last qir and sio programs (null before the first start of one).
    std::shared_ptr<QirProgram> qir() const;
    std::shared_ptr<SioProgram> sio() const;

    // The counter board's test bench (see measuring_fpga.h).
    void setSignal(int iChan, InputSignal sig);
    void scriptLine(int iChan, uint64_t tRelease, const FifoLine& line);
    void clearScript(int iChan);
    void setFpgaOptions(const FpgaOptions& opt);
    FpgaOptions fpgaOptions() const;
    void forceFillCount(int iChan, uint32_t u);  // ports 14/15 answer u
    void forceFifoWord(int iChan, uint16_t w);   // ports 6/7 answer w, the FIFO stays
    void clearForced();
    // Moves the running clock of the counter board on (no effect without one).
    void advanceClock(uint64_t cTicks);

    // The digital-I/O boards' inputs.
    void setSioInputs(uint16_t u);
    void setSioLoopback(bool f);

    // Faults and test hooks.
    void injectFault(const Fault& fault);
    void clearFaults();
    void unplug();        // every transfer answers NoResponse from now on
    bool isUnplugged() const;
    void replug();        // back to the power-up state (logs and bench kept)
    void holdAnswers(bool f);  // keep answers back (the host's IN waits) until false
    void pushAnswer(int iChan, std::vector<uint8_t> mpbCtrl, std::vector<uint8_t> mpbData);
    void setStallWhenSilent(bool f);  // a bulk IN with nothing to send stalls
    void setRequestHook(RequestHook hook);
    void overrideDeviceDescriptor(std::vector<uint8_t> mpb);
    void overrideConfigurationDescriptor(std::vector<uint8_t> mpb);

    // Logs.
    std::vector<RequestRecord> requests() const;  // the last requests an operating program received
    // The first requests it could not read or serve (kMaxProtocolErrors), and how many there were.
    std::vector<ProtocolError> protocolErrors() const;
    std::size_t cProtocolErrors() const;
    // The request, vendor-write and download logs, and those of the programs
    // started from now on, keep their last n entries (default kvring::kDefaultCapacity).
    void setLogCapacity(std::size_t n);
    size_t cPacketsWaiting(int iChan) const;
    void clearLogs();

    // Holds the board's lock, for a test that inspects the programs while the
    // bus runs. Do not call unplug, holdAnswers, pushAnswer or
    // setStallWhenSilent under it: they wake the bus, which takes its own lock.
    std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock<std::recursive_mutex>(_mx); }

private:
    struct Packet {
        std::vector<uint8_t> _mpb;
        bool _fCtrl;  // the control, last packet of an answer
    };
    struct Channel {
        bool _fHaveCtrl = false;
        std::vector<uint8_t> _mpbCtrl;
        std::deque<Packet> _qUp;
    };
    struct ArmedFault {
        Fault _f;
        int _cSkip;
        int _cTimes;
    };

    void holdCpu();
    void releaseCpu();
    std::string recognise() const;
    bool bulkReady() const;
    usbsim::UsbXfer silentIn() const;
    std::vector<Fault> takeFaults(int iChan, int eType, const std::function<bool(const Fault&)>& which);
    void process(int iChan, const std::vector<uint8_t>& mpbCtrl, const std::vector<uint8_t>& mpbData);
    void queueAnswer(int iChan, int eTypeRequest, Answer ans);
    void queueUp(int iChan, std::vector<uint8_t> mpbData, std::vector<uint8_t> mpbCtrl);
    void goAway();
    void notify(std::unique_lock<std::recursive_mutex>& lk);

    mutable std::recursive_mutex _mx;
    std::function<void()> _fnNotify;

    const std::string _sgModel;
    const uint16_t _uPid;
    std::vector<uint8_t> _mpbIdentity;
    std::vector<uint8_t> _mpbMem;
    bool _fCpuHeld = true;
    ProgramKind _eProg = ProgramKind::None;
    std::string _sgImage;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> _mpwrDownload;
    kvring::Ring<VendorWrite> _mpVendor{kvring::kDefaultCapacity};
    kvring::Ring<Download> _mpDownload{kvring::kDefaultCapacity};
    uint8_t _bConfig = 0, _bAlt = 0;
    std::optional<std::vector<uint8_t>> _mpbDevDescOverride, _mpbConfDescOverride;

    BoardProgram* _pprog = nullptr;
    std::shared_ptr<QirProgram> _pqir;
    std::shared_ptr<SioProgram> _psio;
    HixBench _hix;
    SioBench _sioBench;

    Channel _mpchan[2];
    bool _fUnplugged = false, _fHold = false, _fStallWhenSilent = false;
    std::vector<ArmedFault> _mpFault;
    RequestHook _hook;
    kvring::Ring<RequestRecord> _mpReq{kvring::kDefaultCapacity};
    kvring::FirstKept<ProtocolError> _mpErr{kMaxProtocolErrors};
};

}  // namespace KVdepSim100
