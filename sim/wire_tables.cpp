#include "sim/wire_tables.h"

#include <cstring>

namespace KVdepSim100 {

namespace {

const WireMsgDesc vaqResp{4, "VaqResp", {{"eErr", 4}, {"iErr", 4}, {"fStat", 4}}, false};
const WireMsgDesc vaqInit{6, "VaqInit", {}, true};

const std::vector<WireMsgDesc> mpQir = {
    vaqResp,
    vaqInit,
    {7, "QirRead", {{"iPort", 1}}, true},
    {8, "QirWrite", {{"iPort", 1}, {"iVal", 2}}, true},
    {9, "QirTrf", {{"tiTmoSec", 4}, {"tiTmoNsec", 4}, {"iTrans", 4}, {"fLast", 1}}, true},
    {10, "QirFini", {}, true},
    {11, "QirCmd", {{"tiTmoSec", 4}, {"tiTmoNsec", 4}, {"iTrans", 4}, {"fLast", 1}}, true},
    {12, "QirResp", {{"eErr", 4}, {"iErr", 4}, {"fStat", 4}}, false},
    {13, "QirWrResp", {{"eErr", 4}, {"iErr", 4}, {"fStat", 4}, {"cTrans", 4}}, false},
    {14, "QirInfoResp",
     {{"eErr", 4}, {"iErr", 4}, {"fStat", 4}, {"eArch", 1}, {"cIntr", 4}, {"fLinec", 4}}, false},
};

const std::vector<WireMsgDesc> mpSio = {
    vaqResp,
    vaqInit,
    {7, "SioSync", {{"fCtrl", 1}}, true},
    {8, "SioRead", {{"iPort", 1}}, true},
    {9, "SioWrite", {{"iPort", 1}, {"iVal", 2}}, true},
    {10, "SioResp", {{"eErr", 4}, {"fStat", 4}}, false},
};

}  // namespace

size_t WireMsgDesc::cbWire() const
{
    size_t cb = 1;
    for (const WireField& f : _mpField)
        cb += f._cb;
    return cb;
}

int WireMsgDesc::iField(const char* szName) const
{
    for (size_t i = 0; i < _mpField.size(); ++i)
        if (std::strcmp(_mpField[i]._szName, szName) == 0)
            return static_cast<int>(i);
    return -1;
}

bool WireMsg::has(const char* szField) const { return _pdesc && _pdesc->iField(szField) >= 0; }

uint32_t WireMsg::get(const char* szField) const
{
    int i = _pdesc ? _pdesc->iField(szField) : -1;
    return i < 0 ? 0 : _mpu[i];
}

WireMsg& WireMsg::set(const char* szField, uint32_t u)
{
    int i = _pdesc ? _pdesc->iField(szField) : -1;
    if (i >= 0)
        _mpu[i] = u;
    return *this;
}

const std::vector<WireMsgDesc>& wireTable(WireProto eProto)
{
    return eProto == WireProto::Qir ? mpQir : mpSio;
}

const WireMsgDesc* wireDesc(WireProto eProto, int eType)
{
    for (const WireMsgDesc& d : wireTable(eProto))
        if (d._eType == eType)
            return &d;
    return nullptr;
}

const char* wireErrorText(WireError eErr)
{
    switch (eErr) {
    case WireError::None: return "none";
    case WireError::Empty: return "empty control";
    case WireError::UnknownType: return "unknown message type";
    case WireError::Short: return "control too short";
    case WireError::Long: return "control too long";
    }
    return "?";
}

WireMsg wireMsg(WireProto eProto, int eType)
{
    WireMsg msg;
    msg._pdesc = wireDesc(eProto, eType);
    if (msg._pdesc)
        msg._mpu.assign(msg._pdesc->_mpField.size(), 0);
    return msg;
}

WireDecode wireDecode(WireProto eProto, const uint8_t* pb, size_t cb)
{
    WireDecode dec;
    if (cb == 0) {
        dec._eErr = WireError::Empty;
        return dec;
    }
    const WireMsgDesc* pdesc = wireDesc(eProto, pb[0]);
    if (!pdesc) {
        dec._eErr = WireError::UnknownType;
        return dec;
    }
    if (cb != pdesc->cbWire()) {
        dec._eErr = cb < pdesc->cbWire() ? WireError::Short : WireError::Long;
        return dec;
    }
    dec._msg._pdesc = pdesc;
    size_t i = 1;
    for (const WireField& f : pdesc->_mpField) {
        uint32_t u = 0;
        for (int k = 0; k < f._cb; ++k)
            u = (u << 8) | pb[i++];
        dec._msg._mpu.push_back(u);
    }
    return dec;
}

std::vector<uint8_t> wireEncode(const WireMsg& msg)
{
    std::vector<uint8_t> mpb;
    if (!msg._pdesc)
        return mpb;
    mpb.push_back(static_cast<uint8_t>(msg._pdesc->_eType));
    for (size_t i = 0; i < msg._pdesc->_mpField.size(); ++i)
        for (int k = msg._pdesc->_mpField[i]._cb - 1; k >= 0; --k)
            mpb.push_back(static_cast<uint8_t>(msg._mpu[i] >> (8 * k)));
    return mpb;
}

std::string wireText(const WireMsg& msg)
{
    if (!msg._pdesc)
        return "(unknown)";
    std::string sg = msg._pdesc->_szName;
    for (size_t i = 0; i < msg._mpu.size(); ++i)
        sg += std::string(" ") + msg._pdesc->_mpField[i]._szName + "=" + std::to_string(msg._mpu[i]);
    return sg;
}

}  // namespace KVdepSim100
