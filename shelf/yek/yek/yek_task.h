// The task engine: step machines (Funcs) that build requests in message
// buffers and read the answers, driven by the signals of one or two channels,
// and the task plexer that runs them on a client's channel. Nothing blocks;
// signals nest, and only the outermost call reports done.
#pragma once

#include <cstdint>
#include <deque>
#include <stack>

#include "yek_driver.h"
#include "yekexport.h"

namespace KVdepYek100 {

class Task;

// Told when a task has finished. Nobody deletes through this interface.
class YEK_API TaskUser {
public:
    // The default writes "TaskUser::done" and a newline to standard error.
    virtual void done(Task* pta);

protected:
    ~TaskUser() = default;
};

// A task over channel 0 and channel 1 (which may be null).
class YEK_API Task {
public:
    Task(TaskUser* ptm, int h, Channel* pcn0, Channel* pcn1) : _ptm(ptm), _h(h), _mppcn{pcn0, pcn1} {}
    Task(const Task&) = default;
    Task& operator=(const Task&) = delete;

    virtual void sigDown(int iCtx, Channel* pcn);
    virtual void sigUp(int iCtx, Channel* pcn);
    virtual ~Task();

    TaskUser* ptm() const { return _ptm; }
    int h() const { return _h; }
    Channel* pcn(int i) const { return i == 0 || i == 1 ? _mppcn[i] : nullptr; }

    TaskUser* _ptm;
    int32_t _h;
    Channel* _mppcn[2];
};

// What a step waits for before the next step (canget, canput, canget2) and
// what is done with the messages after it (sendup, releasedown), per channel
// index 0 to 3. Bits 20 to 31 are not used.
class YEK_API TaskFlags {
public:
    static const int fWait = 0xF00FF;
    static const int fAnySendup = 0xF00;
    static const int fAnyReleasedown = 0xF000;

    explicit TaskFlags(int f = 0) : _f(f) {}

    static int fCanget(int i) { return 1 << i; }
    static int fCanput(int i) { return 1 << (i + 4); }
    static int fSendup(int i) { return 1 << (i + 8); }
    static int fReleasedown(int i) { return 1 << (i + 12); }
    static int fCanget2(int i) { return 1 << (i + 16); }

    int isCanget(int i) const { return _f & fCanget(i); }
    int isCanput(int i) const { return _f & fCanput(i); }
    int isSendup(int i) const { return _f & fSendup(i); }
    int isReleasedown(int i) const { return _f & fReleasedown(i); }
    int isCanget2(int i) const { return _f & fCanget2(i); }
    int isSendup() const { return _f & fAnySendup; }
    int isReleasedown() const { return _f & fAnyReleasedown; }
    // The satisfied conditions f are exactly the requested wait bits.
    bool isSync(int f) const { return ((f ^ _f) & fWait) == 0; }

    int f() const { return _f; }
    void f(int f) { _f = f; }

    int32_t _f;
};

// A task that runs a stack of step machines: the top one runs, the ones
// below wait for the one above them to finish.
class YEK_API TaskFunc : public Task {
public:
    class Func;

    class Frame {
    public:
        explicit Frame(Func* ptf) : _ptf(ptf) {}
        Func* ptf() const { return _ptf; }
        Func* _ptf;
    };
    // The Funcs in progress, last in first out.
    class Stack : public std::stack<Frame, std::deque<Frame>> {
    public:
        std::deque<Frame>& frames() { return c; }
    };

    // One step machine. Its starter creates it with new and never deletes it:
    // once finished it belongs to the task function.
    class YEK_API Func : public TaskFlags {
    public:
        Func() : TaskFlags(0), _ptt(nullptr), _e(0) {}
        virtual int func(int e) = 0;
        virtual ~Func();

        void init(TaskFunc* ptt) { _ptt = ptt; }
        // The next state and the flags for the engine.
        int setup(int sNext, int fPre, int fPost)
        {
            _e = sNext;
            f(fPre | fPost);
            return f();
        }
        // Runs ptf to its end, then state sNext (0 or more); the flags stay.
        int call(int sNext, Func* ptf)
        {
            _e = sNext;
            return ptt()->call(ptf);
        }

        Pmd pmd(int i, int iOffs = 0) const { return _ptt->pmd(i, iOffs); }
        Pmu pmu(int i, int iOffs = 0) const { return _ptt->pmu(i, iOffs); }
        TaskFunc* ptt() const { return _ptt; }
        int e() const { return _e; }

        // Time since system start, from the millisecond tick count.
        static Time timestamp();

        TaskFunc* _ptt;
        // The next step; -1 finishes after this step's post actions, -2 marks
        // a finished Func.
        int32_t _e;
    };

    TaskFunc(TaskUser* ptm, int h, Channel* pcn0, Channel* pcn1, Func* ptf = nullptr);
    // Deletes the finished Func; Funcs still on the stack are not deleted.
    ~TaskFunc() override;

    // A copy would share the finished Func and leave the Funcs on the stack
    // pointing at the source. A move takes both over.
    TaskFunc(const TaskFunc&) = delete;
    TaskFunc& operator=(const TaskFunc&) = delete;
    TaskFunc(TaskFunc&& tf);

    // Pushes ptf without stepping it: the owner then signals the task.
    void run(Func* ptf);
    int call(Func* ptf);
    void sigDown(int iCtx, Channel* pcn) override;
    void sigUp(int iCtx, Channel* pcn) override;
    void proceed(int iCtx, Stack& stfr);

    // Drops the Funcs of an exchange that cannot finish (a transfer failed):
    // the Funcs the root called are deleted, the down messages the task holds
    // are released and a held up buffer is made fresh for the next Func. The
    // root Func is handed back unfinished (its state is not -2); its starter
    // owns it again. Null when nothing runs. Not from inside a step.
    Func* drop(int iCtx);

    bool isRunning() const { return !_stfr.empty(); }
    Func* ptfRet() const { return _ptfRet; }
    void setPtfRet(Func* ptf);
    int cChan() const { return 2; }
    Pmd pmd(int i, int iOffs = 0) const { return pcn(i) ? pcn(i)->pmdDown(iOffs) : nullptr; }
    Pmu pmu(int i, int iOffs = 0) const { return pcn(i) ? pcn(i)->pmuUp(iOffs) : nullptr; }

    Stack _stfr;
    int32_t _cRec;
    Func* _ptfRet;

private:
    int takeWaits(int iCtx, const TaskFlags& fCtl);
    void postActions(int iCtx, const TaskFlags& fl);
    void releaseHeld(int iCtx, int i);
};

// Relays down messages of channel 0 as up messages of channel 1 (requests)
// and down messages of channel 1 as up messages of channel 0 (answers).
class YEK_API TaskForward : public Task {
public:
    TaskForward(TaskUser* ptm, int h, Channel* pcn0, Channel* pcn1) : Task(ptm, h, pcn0, pcn1), _c(0) {}
    ~TaskForward() override;

    void sigDown(int iCtx, Channel* pcn) override;
    // An up pool refilled: messages that waited for it move on.
    void sigUp(int iCtx, Channel* pcn) override;

    // Requests relayed and not yet answered.
    int32_t _c;

private:
    void relay(int iCtx, int iFrom);
};

// The plexer of a client's channel, which is at the same time the task
// function that runs the client's Funcs on it and their task user.
class YEK_API TaskPlex : public YekPlex, public TaskFunc, public TaskUser {
public:
    explicit TaskPlex(YekChannel* puc);
    // Detaches the channel.
    ~TaskPlex() override;

    void sigDown(int iCtx, Channel* pcn, int hChan) override;
    void sigUp(int iCtx, Channel* pcn, int hChan) override;
};

}  // namespace KVdepYek100
