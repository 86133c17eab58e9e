// A small driver of the device interface for the device channel's tests,
// registered in the stand-in kernel: one device "\Device\ZEDOZ_EVU_<n>" per
// physical device object with its "\DosDevices\" link; a channel opens by the
// six-character name "\ppp\d" when ppp is one of its protocols and d is 0 or
// 1 and the channel is not open; the protocol check is the signature prefix
// test; put hands the request to a scripted board, get takes the board's next
// answer or waits for it. Requests reach it with the caller's pointers
// (method neither) and it works on the caller's block in place, as the
// driver of the system does once it has mapped it.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kv_kernel.h"
#include "yek.h"
#include "yek_devif.h"

namespace devio_test {

struct DrvProto {
    std::string sgName;       // three letters
    std::string sgSignature;  // the driver's signature
};

// One control request as it arrived (the block before the driver changed it).
struct Call {
    ULONG uCode;
    YekIoc ioc;
};

// One message of a put, or one answer of the board: the control's bytes
// (header included) and the data.
struct Msg {
    int iChan;
    std::string sgCtrl;
    std::string sgData;

    // The control's type, -1 when the bytes do not hold a header.
    int eType() const
    {
        YekControlStruct h{0, 0};
        if (sgCtrl.size() < sizeof h)
            return -1;
        std::memcpy(&h, sgCtrl.data(), sizeof h);
        return static_cast<int>(h._eType);
    }
};

class TestBoardDriver {
public:
    static TestBoardDriver& the();

    // Before loading: the protocols the driver speaks; forgets everything.
    void reset(std::vector<DrvProto> mpProto);

    // The board: called for every put, outside the driver's lock; it may
    // answer (answer()) or stay silent.
    void setOnPut(std::function<void(const Msg&)> fn);
    // Queues an answer on channel iChan; a get that waits for it completes.
    void answer(int iChan, const KVdepYek100::YekControl& uc, const std::string& sgData = "");
    // The next request of this code (on channel iChan, or on any when -1)
    // fails with st before anything is moved.
    void failNext(ULONG uCode, NTSTATUS st, int iChan = -1);
    // The data limit written back by gets lies: cbMore bytes past the data.
    void overstateData(size_t cbMore);

    // Waits (bounded) until a get waits for an answer that has not come;
    // whether one does.
    bool waitForWaitingGet();
    bool isGetWaiting();
    // Completes the waiting get with st, as a board that went away would.
    bool failWaitingGet(NTSTATUS st);

    std::vector<std::string> opens();  // file names of accepted opens
    std::vector<Call> calls();
    std::vector<Msg> puts();

private:
    struct Fault {
        ULONG uCode;
        NTSTATUS st;
        int iChan;
    };
    struct Chan {
        bool fOpen = false;
        std::deque<Msg> dqAnswer;
        PIRP pirpWaiting = nullptr;
    };
    friend struct DriverAccess;

    std::mutex _mtx;
    std::vector<DrvProto> _mpProto;
    std::function<void(const Msg&)> _fnOnPut;
    std::vector<Fault> _mpFail;
    size_t _cbOverstate = 0;
    Chan _mpChan[2];
    std::vector<std::string> _mpsgOpen;
    std::vector<Call> _mpCall;
    std::vector<Msg> _mpPut;
};

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING regPath);

}  // namespace devio_test
