#include "sio_board.h"

namespace sio_test {

using namespace KVdepSio100;

const std::string SioInprocBoard::sgPyl2817("\x00\xb4\x04\x17\x28\x00\x00", 7);

std::vector<BoardReply> SioInprocBoard::serve(const BoardRequest& rq)
{
    SioResp r;
    r.eErr(_eErr);
    switch (rq.eType) {
    case eSioRead: {
        uint32_t uPort = rq.as<SioRead>().iPort() & 0xFF;
        r.fStat(uPort == 0 ? _uInputs : _mpuPort[uPort]);
        return {BoardReply::of(r)};
    }
    case eSioWrite: {
        SioWrite w = rq.as<SioWrite>();
        PortWrite pw{w.iPort() & 0xFF, w.iVal() & 0xFFFF};
        _mpuPort[pw.uPort] = pw.uVal;
        _mpWrite.push_back(pw);
        return {BoardReply::of(r)};
    }
    case eSioSync:
        _mpSync.push_back(rq.as<SioSync>().fCtrl());
        return {BoardReply::of(r)};
    }
    return InprocBoard::serve(rq);
}

}  // namespace sio_test
