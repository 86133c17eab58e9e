// The task engine: tasks, step machines and the loop that runs them.
#include "yek_task.h"

#include <iostream>

#include "fexassert.h"
#include "kvwindows.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_task";

void TaskUser::done(Task*)
{
    std::cerr << "TaskUser::done" << std::endl;
}

void Task::sigDown(int, Channel*) {}
void Task::sigUp(int, Channel*) {}
Task::~Task() = default;

TaskFunc::Func::~Func() = default;

Time TaskFunc::Func::timestamp()
{
    ULONGLONG ms = GetTickCount64();
    return Time(static_cast<uint32_t>(ms / 1000), static_cast<uint32_t>((ms % 1000) * 1000000));
}

TaskFunc::TaskFunc(TaskUser* ptm, int h, Channel* pcn0, Channel* pcn1, Func* ptf)
    : Task(ptm, h, pcn0, pcn1), _cRec(0), _ptfRet(nullptr)
{
    if (ptf)
        call(ptf);
}

TaskFunc::TaskFunc(TaskFunc&& tf) : Task(tf), _stfr(std::move(tf._stfr)), _cRec(tf._cRec), _ptfRet(tf._ptfRet)
{
    tf._stfr = Stack();
    tf._ptfRet = nullptr;
    // The Funcs in progress run on this task function now.
    for (Frame& fr : _stfr.frames())
        fr.ptf()->init(this);
}

TaskFunc::~TaskFunc()
{
    delete _ptfRet;
}

void TaskFunc::run(Func* ptf)
{
    FEX_ASSERT(ptf, "ptf", szSrc, 234);
    FEX_ASSERT(!isRunning(), "!isRunning()", szSrc, 235);
    call(ptf);
}

int TaskFunc::call(Func* ptf)
{
    ptf->init(this);
    _stfr.push(Frame(ptf));
    return 0;
}

void TaskFunc::sigDown(int iCtx, Channel* pcnSig)
{
    FEX_ASSERT(pcnSig == pcn(0) || pcnSig == pcn(1), "__pcn == pcn(0) || __pcn == pcn(1)", szSrc, 59);
    proceed(iCtx, _stfr);
}

void TaskFunc::sigUp(int iCtx, Channel* pcnSig)
{
    FEX_ASSERT(pcnSig == pcn(0) || pcnSig == pcn(1), "__pcn == pcn(0) || __pcn == pcn(1)", szSrc, 63);
    proceed(iCtx, _stfr);
}

void TaskFunc::setPtfRet(Func* ptf)
{
    if (_ptfRet && _ptfRet != ptf)
        delete _ptfRet;
    _ptfRet = ptf;
}

int TaskFunc::takeWaits(int iCtx, const TaskFlags& fCtl)
{
    int fSync = 0;
    for (int i = 0; i < 2; ++i) {
        if (fCtl.isCanget(i) || fCtl.isCanget2(i) || fCtl.isCanput(i))
            FEX_ASSERT(pcn(i), "pcn(i)", szSrc, 150);
        if (fCtl.isCanget(i)) {
            if (pmd(i, 0) || (pcn(i)->peekDown() && pcn(i)->getDown(iCtx)))
                fSync |= TaskFlags::fCanget(i);
        }
        if (fCtl.isCanget2(i) && pmd(i, 0)) {
            if (pmd(i, 1) || (pcn(i)->peekDown() && pcn(i)->getDown(iCtx)))
                fSync |= TaskFlags::fCanget2(i);
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (fCtl.isCanput(i) && (pmu(i, 0) || pcn(i)->allocUp(SZ_DATA_MAX)))
            fSync |= TaskFlags::fCanput(i);
    }
    return fSync;
}

void TaskFunc::releaseHeld(int iCtx, int i)
{
    // Release exactly the messages held now: a release can signal a nested
    // call that already takes the next message for the next step.
    int cHeld = 0;
    while (pmd(i, cHeld))
        ++cHeld;
    for (int k = 0; k < cHeld; ++k) {
        Pmd pmdOld = pmd(i, 0);
        pcn(i)->releaseDown(iCtx, pmdOld);
        FEX_ASSERT(pmd(i, 0) != pmdOld, "!pmd(i)", szSrc, 181);
    }
}

void TaskFunc::postActions(int iCtx, const TaskFlags& fl)
{
    if (fl.isSendup()) {
        for (int i = 0; i < 2; ++i) {
            if (!fl.isSendup(i))
                continue;
            Pmu pmuSent = pmu(i, 0);
            FEX_ASSERT(pmuSent, "pmu(i)", szSrc, 165);
            pcn(i)->putUp(iCtx, pmuSent, true);
            // A nested call may already hold the next buffer: test this one.
            FEX_ASSERT(pmu(i, 0) != pmuSent, "!pmu(i)", szSrc, 167);
        }
    }
    if (fl.isReleasedown()) {
        for (int i = 0; i < 2; ++i) {
            if (!fl.isReleasedown(i))
                continue;
            FEX_ASSERT(pmd(i, 0), "pmd(i)", szSrc, 179);
            releaseHeld(iCtx, i);
        }
    }
}

void TaskFunc::proceed(int iCtx, Stack& stfr)
{
    ++_cRec;
    while (!stfr.empty()) {
        Func* ptf = stfr.top().ptf();
        TaskFlags fCtl(ptf->f());
        int fSync = takeWaits(iCtx, fCtl);
        // A nested call (made from a step or a post action of the outer one)
        // only takes what the top Func waits for. The outer call tests the top
        // again when its post actions are over and runs the step then, so a
        // Func is never stepped, finished or deleted under a running step.
        if (!fCtl.isSync(fSync) || _cRec > 1) {
            --_cRec;
            return;
        }
        if (ptf->e() >= 0) {
            // The post actions follow what the step returned.
            TaskFlags fl(ptf->func(ptf->e()));
            postActions(iCtx, fl);
        }
        if (ptf->e() == -1) {
            ptf->_e = -2;
            FEX_ASSERT(stfr.size(), "stfr.size()", szSrc, 192);
            setPtfRet(ptf);
            stfr.pop();
        }
    }
    FEX_ASSERT(stfr.empty(), "stfr.empty()", szSrc, 215);
    // The last thing: done may delete this task function.
    if (--_cRec == 0 && ptm())
        ptm()->done(this);
}

TaskFunc::Func* TaskFunc::drop(int iCtx)
{
    FEX_ASSERT(_cRec == 0, "_cRec == 0", szSrc, 240);
    if (_stfr.empty())
        return nullptr;
    // The Funcs above the root were called by their parents: the engine's.
    while (_stfr.size() > 1) {
        delete _stfr.top().ptf();
        _stfr.pop();
    }
    Func* ptf = _stfr.top().ptf();
    _stfr.pop();

    // Signals of the releases find an empty stack; counted as nested, they
    // report no done (nobody finished).
    ++_cRec;
    for (int i = 0; i < 2; ++i) {
        if (!pcn(i))
            continue;
        releaseHeld(iCtx, i);
        // An up buffer stays lent to the task; the next Func writes it afresh.
        if (Pmu pmuHeld = pmu(i, 0))
            pmuHeld->pup()->setLimit(SZ_DATA_MAX);
    }
    --_cRec;
    return ptf;
}

}  // namespace KVdepYek100
