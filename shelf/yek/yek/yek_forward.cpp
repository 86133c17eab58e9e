// The relay task between two channels.
#include "yek_task.h"
#include "yek_user.h"

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_task";

TaskForward::~TaskForward()
{
    FEX_ASSERT(_c == 0, "_c==0", szSrc, 20);
}

void TaskForward::relay(int iCtx, int iFrom)
{
    Channel* pcnFrom = pcn(iFrom);
    Channel* pcnTo = pcn(1 - iFrom);
    int cBefore = pcnTo->pollIn();
    if (!moveDownUp(pcnFrom, pcnTo))
        return;
    // Count messages, not signals: one signal can move several.
    int cMoved = pcnTo->pollIn() - cBefore;
    if (iFrom == 0)
        _c += cMoved;
    else
        _c -= cMoved;
    pcnTo->sigGet(iCtx);
    if (iFrom == 1 && _c == 0 && ptm())
        ptm()->done(this);
}

void TaskForward::sigDown(int iCtx, Channel* pcnSig)
{
    if (pcnSig == pcn(0))
        relay(iCtx, 0);
    else if (pcnSig == pcn(1))
        relay(iCtx, 1);
    else
        FEX_ASSERT(0, "0", szSrc, 35);
}

void TaskForward::sigUp(int iCtx, Channel* pcnSig)
{
    // Messages that found no free up buffer on pcnSig wait in the other
    // channel's down driver chain.
    if (pcnSig == pcn(1))
        relay(iCtx, 0);
    else if (pcnSig == pcn(0))
        relay(iCtx, 1);
    else
        FEX_ASSERT(0, "0", szSrc, 41);
}

}  // namespace KVdepYek100
