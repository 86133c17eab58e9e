#include "fwgen.h"

#include <cstdio>

namespace KVdepFw100 {

namespace {

const std::vector<FwImageInfo> mpInfo = {
    {"qir_firmware", 791, 5867, "operating program of the HIX-5316"},
    {"sio_firmware", 615, 4402, "operating program of the PYL-2817"},
    {"wex_firmware", 670, 4935, "operating program of the VUZ-2958"},
    {"gid_firmware", 115, 673, "idle program"},
    {"gdc_firmware", 114, 664, "program of a disconnected board"},
};

// Small fixed pseudo-random sequence: the images must not change between runs.
class Sequence {
public:
    explicit Sequence(const std::string& sg) : _u(2166136261u)
    {
        for (unsigned char ch : sg)
            _u = (_u ^ ch) * 16777619u;
        if (_u == 0)
            _u = 1;
    }
    uint32_t next()
    {
        _u ^= _u << 13;
        _u ^= _u >> 17;
        _u ^= _u << 5;
        return _u;
    }

private:
    uint32_t _u;
};

// Byte counts of the records after the tag record: as even as the totals
// allow, then shuffled so that the records vary in length like real ones.
std::vector<int> dataCounts(const FwImageInfo& info, Sequence& seq)
{
    const int cRecords = info._cRecords - 2;  // without the tag and end records
    const int cb = info._cbData - ccbRecordData;
    std::vector<int> mpc(cRecords, cb / cRecords);
    for (int i = 0; i < cb % cRecords; ++i)
        ++mpc[i];
    for (int k = 0; k < 4 * cRecords; ++k) {
        int i = static_cast<int>(seq.next() % cRecords);
        int j = static_cast<int>(seq.next() % cRecords);
        int c = static_cast<int>(seq.next() % 4) + 1;
        if (i != j && mpc[i] - c >= 1 && mpc[j] + c <= ccbRecordData) {
            mpc[i] -= c;
            mpc[j] += c;
        }
    }
    return mpc;
}

}  // namespace

const std::vector<FwImageInfo>& fwImages() { return mpInfo; }

const FwImageInfo* fwImageInfo(const std::string& sgName)
{
    for (const FwImageInfo& info : mpInfo)
        if (sgName == info._szName)
            return &info;
    return nullptr;
}

std::array<uint8_t, ccbRecordData> fwTag(const std::string& sgName)
{
    // "KVSTANDIN:qir:01": the program's short name between two fixed parts.
    std::string sg = "KVSTANDIN:" + sgName.substr(0, 3) + ":01";
    std::array<uint8_t, ccbRecordData> mpb{};
    for (size_t i = 0; i < mpb.size() && i < sg.size(); ++i)
        mpb[i] = static_cast<uint8_t>(sg[i]);
    return mpb;
}

std::vector<FwRecord> fwImage(const std::string& sgName)
{
    const FwImageInfo* pinfo = fwImageInfo(sgName);
    if (!pinfo)
        return {};
    Sequence seq(sgName);
    std::vector<FwRecord> mprec;
    mprec.push_back(FwRecord{0, ccbRecordData, fwTag(sgName)});
    uint32_t addr = ccbRecordData;
    for (int c : dataCounts(*pinfo, seq)) {
        FwRecord rec{static_cast<uint16_t>(addr), static_cast<uint8_t>(c), {}};
        for (int i = 0; i < c; ++i)
            rec._mpbData[i] = static_cast<uint8_t>(seq.next() >> 24);
        mprec.push_back(rec);
        addr += c;
    }
    mprec.push_back(FwRecord{addrEnd, 0, {}});
    return mprec;
}

std::string fwImageText(const std::string& sgName)
{
    const FwImageInfo* pinfo = fwImageInfo(sgName);
    if (!pinfo)
        return {};
    char sz[160];
    std::string sg;
    std::snprintf(sz, sizeof sz, "// %s: stand-in for the %s.\n", pinfo->_szName, pinfo->_szUse);
    sg += sz;
    sg += "// NOT product data: written by tools/fwgen for the simulated EZ-USB\n"
          "// controller; do not edit. The first record carries a tag naming the\n";
    std::snprintf(sz, sizeof sz, "// image, the rest is filler. %d records with the end record, %d data bytes.\n",
                  pinfo->_cRecords, pinfo->_cbData);
    sg += sz;
    for (const FwRecord& rec : fwImage(sgName)) {
        std::snprintf(sz, sizeof sz, "{ 0x%04X, %u, { ", rec._addr, rec._cData);
        sg += sz;
        for (int i = 0; i < ccbRecordData; ++i) {
            std::snprintf(sz, sizeof sz, i + 1 < ccbRecordData ? "0x%02X, " : "0x%02X", rec._mpbData[i]);
            sg += sz;
        }
        sg += " }, 0 },\n";
    }
    return sg;
}

}  // namespace KVdepFw100
