// The in-process counter board for the board plexer's tests (on the rig of
// inproc_board.h): a register per port, a log of the writes, and the
// configuration stream with no answer before its last message and one
// QirWrResp after it. It keeps what the wire would carry: the low 8 bits of
// a port and the low 16 bits of a value written.
#pragma once

#include <cstdint>
#include <vector>

#include "inproc_board.h"
#include "yekpro_qir.h"

namespace qir_test {

using vaq_test::BoardReply;
using vaq_test::BoardRequest;

struct RegWrite {
    uint32_t uPort;
    uint32_t uVal;
    bool operator==(const RegWrite& o) const { return uPort == o.uPort && uVal == o.uVal; }
};

// One configuration message as it came.
struct ConfigMsg {
    uint32_t uTiSec, uTiNsec, uTrans;
    bool fLast;
    size_t cbData;
};

class QirInprocBoard : public vaq_test::InprocBoard {
public:
    void setReg(int iPort, uint32_t u) { _mpuReg[iPort & 0xFF] = u; }
    uint32_t reg(int iPort) const { return _mpuReg[iPort & 0xFF]; }
    const std::vector<RegWrite>& writes() const { return _mpWrite; }

    // The image of the last complete load, and the messages of all loads.
    const std::string& configImage() const { return _sgImage; }
    const std::vector<ConfigMsg>& configMsgs() const { return _mpConfig; }
    int cConfigLoads() const { return _cLoads; }
    // The eErr of the QirWrResp that ends a load.
    void setConfigError(uint32_t eErr) { _eErrConfig = eErr; }

protected:
    std::vector<BoardReply> serve(const BoardRequest& rq) override;

private:
    uint32_t _mpuReg[256] = {};
    std::vector<RegWrite> _mpWrite;
    std::string _sgImage, _sgPartial;
    std::vector<ConfigMsg> _mpConfig;
    int _cLoads = 0;
    uint32_t _eErrConfig = 0;
};

}  // namespace qir_test
