// Faults a test can set on a simulated board. Each applies to the requests of
// one message type (or any), on one channel (or either): it lets the first
// cSkip matching ones pass, then acts on the next cTimes ones (-1: on all).
//
// Answer faults act on the answer of a matching request (a request that gets
// no answer, such as a configuration message before the last, does not count):
//  - NoAnswer: the answer is dropped, so the host's bulk IN stays pending;
//  - WrongType: the answer goes out as a message of type uValue (the fields
//    of the same name carried over, the others 0; a type the protocol does not
//    know keeps the original fields behind the new type byte);
//  - ErrorCode: the answer's eErr becomes uValue;
//  - TruncateControl: the answer's control is cut to uValue bytes;
//  - OversizeControl / OversizeData: the control / the data is padded with
//    zeros to uValue bytes (more than the host reads makes its transfer babble).
// Unplug acts when a matching request arrives: with uValue 0 right after its
// control (the data transfer already fails), with 1 after its data (no answer).
// From then on every transfer answers NoResponse.
#pragma once

#include <cstdint>

namespace KVdepSim100 {

enum class FaultKind { NoAnswer, WrongType, ErrorCode, TruncateControl, OversizeControl, OversizeData, Unplug };

struct Fault {
    FaultKind _eKind;
    int _eType = -1;      // request type, -1: any
    int _iChan = -1;      // channel, -1: either
    uint32_t _uValue = 0;
    int _cSkip = 0;
    int _cTimes = 1;

    static Fault noAnswer(int eType) { return Fault{FaultKind::NoAnswer, eType}; }
    static Fault wrongType(int eType, int eTypeAnswer)
    {
        return Fault{FaultKind::WrongType, eType, -1, static_cast<uint32_t>(eTypeAnswer)};
    }
    static Fault errorCode(int eType, uint32_t eErr) { return Fault{FaultKind::ErrorCode, eType, -1, eErr}; }
    static Fault truncateControl(int eType, uint32_t cb) { return Fault{FaultKind::TruncateControl, eType, -1, cb}; }
    static Fault oversizeControl(int eType, uint32_t cb) { return Fault{FaultKind::OversizeControl, eType, -1, cb}; }
    static Fault oversizeData(int eType, uint32_t cb) { return Fault{FaultKind::OversizeData, eType, -1, cb}; }
    static Fault unplug(int eType, int cSkip = 0, bool fAfterData = true)
    {
        return Fault{FaultKind::Unplug, eType, -1, fAfterData ? 1u : 0u, cSkip};
    }
    Fault& onChannel(int iChan)
    {
        _iChan = iChan;
        return *this;
    }
    Fault& skip(int c)
    {
        _cSkip = c;
        return *this;
    }
    Fault& times(int c)
    {
        _cTimes = c;
        return *this;
    }
};

}  // namespace KVdepSim100
