#include "qir_board.h"

namespace qir_test {

using namespace KVdepQir100;

std::vector<BoardReply> QirInprocBoard::serve(const BoardRequest& rq)
{
    switch (rq.eType) {
    case eQirRead: {
        QirResp r;
        r.iErr(_mpuReg[rq.as<QirRead>().iPort() & 0xFF]);
        return {BoardReply::of(r)};
    }
    case eQirWrite: {
        QirWrite w = rq.as<QirWrite>();
        RegWrite rw{w.iPort() & 0xFF, w.iVal() & 0xFFFF};
        _mpuReg[rw.uPort] = rw.uVal;
        _mpWrite.push_back(rw);
        return {BoardReply::of(QirResp())};
    }
    case eQirCmd: {
        QirCmd c = rq.as<QirCmd>();
        _mpConfig.push_back(ConfigMsg{c.tiTmo().tv_sec, c.tiTmo().tv_nsec, c.iTrans(), c.fLast(), rq.sgData.size()});
        _sgPartial += rq.sgData;
        if (!c.fLast())
            return {};
        _sgImage = _sgPartial;
        _sgPartial.clear();
        ++_cLoads;
        QirWrResp r;
        r.eErr(_eErrConfig);
        r.cTrans(static_cast<u_int>(_mpConfig.size()));
        return {BoardReply::of(r)};
    }
    }
    return InprocBoard::serve(rq);
}

}  // namespace qir_test
