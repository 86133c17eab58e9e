#include "sim/sio_program.h"

namespace KVdepSim100 {

namespace {

enum SioType { T_VAQRESP = 4, T_VAQINIT = 6, T_SYNC = 7, T_READ = 8, T_WRITE = 9, T_RESP = 10 };

// Output bit of O01..O12 and input bit of I01..I12 on port 0.
const int mpiOutBit[12] = {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13};
const int mpiInBit[12] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12};

}  // namespace

SioProgram::SioProgram(std::vector<uint8_t> mpbIdentity, const SioBench* pbench)
    : _mpbIdentity(std::move(mpbIdentity)), _pbench(pbench)
{
}

uint16_t SioProgram::loopback(uint16_t uOutputs)
{
    uint16_t u = 0;
    for (int i = 0; i < 12; ++i)
        if (uOutputs & (1u << mpiOutBit[i]))
            u |= static_cast<uint16_t>(1u << mpiInBit[i]);
    return u;
}

void SioProgram::setLogCapacity(std::size_t n)
{
    _mpWrite.setCapacity(n);
    _mpRead.setCapacity(n);
    _mpSync.setCapacity(n);
}

uint16_t SioProgram::readPort(int iPort) const
{
    if (iPort != 0)
        return _mpuPort[iPort];
    return _pbench->_fLoopback ? loopback(_mpuPort[0]) : _pbench->_uInputs;
}

Answer SioProgram::handle(int iChan, const WireMsg& msg, const std::vector<uint8_t>&)
{
    Answer ans;
    switch (msg.eType()) {
    case T_VAQINIT:
        ans._ctrl = wireMsg(WireProto::Sio, T_VAQRESP);
        ans._mpbData = _mpbIdentity;
        return ans;
    case T_SYNC:
        _mpSync.push_back(msg.get("fCtrl"));
        break;
    case T_READ: {
        int iPort = static_cast<int>(msg.get("iPort") & 0xFF);
        uint16_t u = readPort(iPort);
        _mpRead.push_back(PortAccess{iChan, iPort, u});
        ans._ctrl = wireMsg(WireProto::Sio, T_RESP);
        ans._ctrl.set("fStat", u);
        return ans;
    }
    case T_WRITE: {
        int iPort = static_cast<int>(msg.get("iPort") & 0xFF);
        uint16_t u = static_cast<uint16_t>(msg.get("iVal"));
        _mpuPort[iPort] = u;
        _mpWrite.push_back(PortAccess{iChan, iPort, u});
        break;
    }
    default:
        return Answer::silent("answer type sent to the board");
    }
    ans._ctrl = wireMsg(WireProto::Sio, T_RESP);
    return ans;
}

}  // namespace KVdepSim100
