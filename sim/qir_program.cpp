#include "sim/qir_program.h"

namespace KVdepSim100 {

namespace {

enum QirType {
    T_VAQRESP = 4, T_VAQINIT = 6, T_READ = 7, T_WRITE = 8, T_TRF = 9, T_FINI = 10,
    T_CMD = 11, T_RESP = 12, T_WRRESP = 13,
};

enum QirPort {
    P_SELFTEST_OUT = 0, P_SELFTEST_IN = 4, P_PULSE0 = 2, P_PULSE1 = 3, P_DATA0 = 6, P_DATA1 = 7,
    P_FILL0 = 14, P_FILL1 = 15, P_LINES = 20, P_CONTROL = 31,
};

}  // namespace

QirProgram::QirProgram(std::vector<uint8_t> mpbIdentity, const HixBench* pbench)
    : _mpbIdentity(std::move(mpbIdentity)), _fpga(pbench)
{
}

Answer QirProgram::answer(int eType) const
{
    Answer ans;
    ans._ctrl = wireMsg(WireProto::Qir, eType);
    return ans;
}

Answer QirProgram::handle(int iChan, const WireMsg& msg, const std::vector<uint8_t>& mpbData)
{
    switch (msg.eType()) {
    case T_VAQINIT: {
        Answer ans = answer(T_VAQRESP);
        ans._mpbData = _mpbIdentity;
        return ans;
    }
    case T_READ: {
        Answer ans = answer(T_RESP);
        ans._ctrl.set("iErr", readRegister(iChan, static_cast<int>(msg.get("iPort"))));
        return ans;
    }
    case T_WRITE:
        writeRegister(iChan, static_cast<int>(msg.get("iPort")), static_cast<uint16_t>(msg.get("iVal")));
        return answer(T_RESP);
    case T_CMD: {
        _mpbConfigRx.insert(_mpbConfigRx.end(), mpbData.begin(), mpbData.end());
        ++_cConfigMsgsRx;
        if (!msg.get("fLast"))
            return Answer::silent();
        _mpbConfig.swap(_mpbConfigRx);
        _mpbConfigRx.clear();
        _cConfigMsgs = _cConfigMsgsRx;
        _cConfigMsgsRx = 0;
        ++_cConfigLoads;
        Answer ans = answer(T_WRRESP);
        ans._ctrl.set("cTrans", static_cast<uint32_t>(_cConfigMsgs));
        return ans;
    }
    case T_TRF:
    case T_FINI:
        return answer(T_RESP);
    default:
        return Answer::silent("answer type sent to the board");
    }
}

uint32_t QirProgram::readRegister(int iChan, int iPort)
{
    iPort &= 0xFF;
    uint32_t u = 0;
    switch (iPort) {
    case P_DATA0:
    case P_DATA1:
        u = _fpga.readData(iPort - P_DATA0);
        break;
    case P_FILL0:
    case P_FILL1:
        u = _fpga.readFill(iPort - P_FILL0);
        break;
    case P_LINES:
        u = uLinePattern;
        break;
    case P_SELFTEST_IN:
        u = _mpuReg[P_SELFTEST_OUT] & 0xFFFF;
        break;
    default:
        u = _mpuReg[iPort];
        break;
    }
    _mpRead.push_back(PortAccess{iChan, iPort, u});
    return u;
}

void QirProgram::writeRegister(int iChan, int iPort, uint16_t uVal)
{
    iPort &= 0xFF;
    _mpWrite.push_back(PortAccess{iChan, iPort, uVal});
    _mpuReg[iPort] = uVal;
    if (iPort == P_PULSE0 || iPort == P_PULSE1)
        _fpga.writePulse(iPort - P_PULSE0, uVal);
    else if (iPort == P_CONTROL)
        _fpga.writeControl(uVal);
}

void QirProgram::setLogCapacity(std::size_t n)
{
    _mpWrite.setCapacity(n);
    _mpRead.setCapacity(n);
}

std::vector<PortAccess> QirProgram::writesTo(int iPort) const
{
    std::vector<PortAccess> mp;
    for (const PortAccess& pa : _mpWrite)
        if (pa._iPort == iPort)
            mp.push_back(pa);
    return mp;
}

}  // namespace KVdepSim100
