// The task plexer: a client's channel, its task function and its task user.
#include "yek_task.h"

namespace KVdepYek100 {

TaskPlex::TaskPlex(YekChannel* puc) : YekPlex("tp"), TaskFunc(this, 0, puc, nullptr, nullptr)
{
    puc->initPlex(this, 0, 0);
}

TaskPlex::~TaskPlex()
{
    if (pcn(0))
        pcn(0)->finiPlex();
}

void TaskPlex::sigDown(int iCtx, Channel* pcn, int)
{
    TaskFunc::sigDown(iCtx, pcn);
}

void TaskPlex::sigUp(int iCtx, Channel* pcn, int)
{
    TaskFunc::sigUp(iCtx, pcn);
}

}  // namespace KVdepYek100
