// The port multiplexer: the base of an in-process server that serves clients
// on named ports and does its work on one device channel. The first message
// of a request on a port makes the subclass create a task for it; that task
// answers on the client's channel, talks to the device channel, gets every
// signal of the device channel, and is disposed of by the subclass when it
// reports done.
#pragma once

#include "yek_task.h"
#include "yekexport.h"

namespace KVdepYek100 {

class YEK_API PortMux : public TaskUser, public YekPlex {
public:
    // One row of the port table; the table ends with a row whose name is null.
    // The index of a row is the port index.
    struct PortClass {
        const char* _szPortId;
        const Proto* _pup;
    };

    // The channel open on a port and the task serving its current request.
    class YEK_API Port {
    public:
        Port() : _pcn(nullptr), _pta(nullptr) {}
        explicit Port(Channel* pcn) : _pcn(pcn), _pta(nullptr) {}

        Channel* pcn() const { return _pcn; }
        Task* pta() const { return _pta; }
        Channel* setChan(Channel* pcn) { return _pcn = pcn; }
        void setTask(Task* pta) { _pta = pta; }
        void clrTask() { _pta = nullptr; }

        Channel* _pcn;
        Task* _pta;
    };

    // The table and the ports (one per row) belong to the subclass. The
    // device channel, when given, is attached here with handle 0.
    PortMux(const PortClass* pPc, Port* pPo, Channel* pcnDev);
    // Detaches the device channel; the client channels stay as they are.
    ~PortMux() override;

    PortMux(const PortMux&) = delete;
    PortMux& operator=(const PortMux&) = delete;

    // A task has finished: the subclass disposes of it and the port is idle.
    void done(Task* pta) override;
    // The port index, or -1 (no such port), -2 (the channel's protocol is not
    // a prefix of the port's), -3 (the port is taken, also after a close).
    int openChannel(const char* szPort, Channel* puc) override;
    // Detaches the port's channel; the port stays taken. A request still in
    // progress on it is dropped.
    void closeChannel(int iPort) override;
    void sigDown(int iCtx, Channel* puc, int hChan) override;
    void sigUp(int iCtx, Channel* puc, int hChan) override;

    // A new task for the request whose first message is pmd (still queued on
    // pcn): its user ptm, its handle h (the port index), its channels pcn and
    // the device channel. Never null.
    virtual Task* createTask(Channel* pcn, const PortClass* pPc, Pmd pmd, PortMux* ptm, int h) = 0;
    virtual void deleteTask(const PortClass* pPc, Task* pta) = 0;

    int cPortTypes() const;
    Channel* pucDev() const { return _poDev.pcn(); }
    // The request in progress waits for the device channel's answer to what
    // it sent there.
    bool isAwaitingDev() const;

    const PortClass* _pPc;
    Port* _pPo;
    Port _poDev;

protected:
    // For a port whose client sends one message a request, and its next only
    // when done with the last (it gave up the last when it sends before the
    // answer came): the newest request queued on port iPort replaces the
    // older ones queued, and the one in progress unless the device owes that
    // one an answer (it must then end at the answer, without another step).
    void keepNewestRequest(int iPort);

private:
    // Takes the unfinished task of port iPort off the port and disposes of
    // it; what it left unsent on the device channel is taken back.
    void dropTask(int iPort);
    // The task waits for the answer to a request that went out to the device.
    bool isOwedByDev(const Task* pta) const;
    // Up messages of the device channel that its transport has not sent.
    bool hasUnsentDev() const;
    void withdrawUnsentDev();
    // The device channel carries a status that has failed: its answers will
    // never come.
    bool isDevFailed() const;
    // A task waiting for the device channel after the device channel failed.
    bool isStuck(Task* pta) const;
    // The current step of pta waits for a message of the device channel, or
    // (fBuffer) for one of its up buffers; never while pta is inside a step.
    bool waitsForDev(const Task* pta, bool fBuffer) const;

    // Signals that arrive while a task is dropped are not served.
    bool _fDropping = false;
};

}  // namespace KVdepYek100
