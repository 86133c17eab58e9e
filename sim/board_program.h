// The operating program of a simulated board: what its controller does with
// one request (the control, already read with the board's wire tables, and the
// data that came with it).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/wire_tables.h"

namespace KVdepSim100 {

struct Answer {
    bool _fSilent = false;           // nothing goes back (for example a configuration message before the last)
    const char* _szRefused = nullptr;  // why the request was not served (set with _fSilent)
    WireMsg _ctrl;                   // the answer's control
    std::vector<uint8_t> _mpbData;   // the answer's data, sent before the control

    static Answer silent(const char* szRefused = nullptr)
    {
        Answer ans;
        ans._fSilent = true;
        ans._szRefused = szRefused;
        return ans;
    }
};

class BoardProgram {
public:
    virtual ~BoardProgram() = default;
    virtual WireProto proto() const = 0;
    virtual const char* szName() const = 0;  // "qir" or "sio"
    virtual Answer handle(int iChan, const WireMsg& msg, const std::vector<uint8_t>& mpbData) = 0;
};

// A register access as a program saw it.
struct PortAccess {
    int _iChan;
    int _iPort;
    uint32_t _uVal;  // value written, or value answered to a read

    bool operator==(const PortAccess& o) const { return _iPort == o._iPort && _uVal == o._uVal; }
};

}  // namespace KVdepSim100
