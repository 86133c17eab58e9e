// The pooled buffers of a channel that owns them, as the in-process ends and
// the user channel do: created with the channel, deleted at its teardown.
#pragma once

#include "yek_driver.h"

namespace KVdepYek100 {

// Buffers in each of the two pools.
const int cOwnBufs = 4;

// Fills both pools of pcn with new buffers.
inline void createOwnBufs(YekChannel* pcn)
{
    for (int k = 0; k < cOwnBufs; ++k)
        pcn->initPoolDown(new YekMsgBuf);
    for (int k = 0; k < cOwnBufs; ++k)
        pcn->initPoolUp(new YekMsgBuf);
}

// The finiPool of such a channel.
inline void deleteOwnBuf(Link* pli)
{
    if (pli)
        delete YekChannel::pmbOf(pli);
}

}  // namespace KVdepYek100
