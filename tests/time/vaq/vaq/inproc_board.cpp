#include "inproc_board.h"

#include <windows.h>

#include "yekpro_vaq.h"

namespace vaq_test {

using namespace KVdepYek100;

const std::string InprocBoard::sgHix5316("\x00\xb4\x04\x16\x53\x00\x00", 7);

InprocBoard::InprocBoard() : YekPlex("board"), _sgIdent(sgHix5316) {}

InprocBoard::~InprocBoard() = default;

int InprocBoard::openChannel(const char*, YekChannel* pcn)
{
    pcn->initPlex(this, 0, 0);
    _pcn = pcn;
    return 0;
}

void InprocBoard::closeChannel(int)
{
    if (_pcn)
        _pcn->finiPlex();
    _pcn = nullptr;
}

std::vector<int> InprocBoard::requestTypes() const
{
    std::vector<int> mp;
    for (const BoardRequest& rq : _mpRequest)
        mp.push_back(rq.eType);
    return mp;
}

std::vector<BoardReply> InprocBoard::serve(const BoardRequest& rq)
{
    if (rq.eType != KVdepVaq100::eVaqInit)
        return {};
    return {BoardReply::of(KVdepVaq100::VaqResp(), _sgIdent)};
}

void InprocBoard::sigDown(int iCtx, YekChannel* pcn, int)
{
    // A release below can signal again: the outer loop takes what comes.
    if (_fBusy)
        return;
    _fBusy = true;
    while (pcn->peekDown()) {
        Pmd pm = pcn->getDown(iCtx);
        BoardRequest rq{pm->puc()->eType(), std::string(reinterpret_cast<const char*>(pm->puc()), pm->puc()->size()),
                        std::string()};
        while (pm->pug()->sgetc() != -1)
            rq.sgData += static_cast<char>(pm->pug()->sbumpc_checked());
        pcn->releaseDown(iCtx, pm);
        for (BoardReply& r : handle(rq))
            _dqReply.push_back(std::move(r));
        flush(iCtx);
    }
    _fBusy = false;
}

std::vector<BoardReply> InprocBoard::handle(const BoardRequest& rq)
{
    _mpRequest.push_back(rq);
    if (_cUntilBreak > 0 && --_cUntilBreak == 0) {
        _fBroken = true;
        if (_pio)
            _pio->breakConnection("DeviceIoControl(get) failed", ERROR_DEVICE_NOT_CONNECTED);
    }
    if (_fBroken)
        return {};
    std::optional<std::vector<BoardReply>> mp;
    if (_hook)
        mp = _hook(rq);
    return mp ? *mp : serve(rq);
}

void InprocBoard::sigUp(int iCtx, YekChannel*, int)
{
    flush(iCtx);
}

void InprocBoard::flush(int iCtx)
{
    while (_pcn && !_dqReply.empty()) {
        Pmu pmu = _pcn->allocUp(SZ_DATA_MAX);
        if (!pmu)
            return;
        YekMsgBuf* pmb = YekChannel::pmbOf(pmu);
        static_cast<YekControlBuf&>(*pmb) = _dqReply.front().ucb;
        putbuf(pmb, _dqReply.front().sgData);
        _dqReply.pop_front();
        _pcn->putUp(iCtx, pmu, true);
    }
}

InprocRig::InprocRig(InprocBoard& board, const YekProto* pup) : _io(pup), _board(board)
{
    _pair.init(&board, "0", pup);
    board.setIo(&_io);
}

InprocRig::~InprocRig()
{
    _board.setIo(nullptr);
}

}  // namespace vaq_test
