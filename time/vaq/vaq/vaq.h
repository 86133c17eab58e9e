// Device access: the device plexer that runs one exchange at a time on a
// board's device channel and fetches the board's identity with the open
// exchange, and the initializer that opens a board's vaq channel and the
// plexer on it. Every board client builds on the plexer.
#pragma once

#include <string>

#include "failable.h"
#include "vaqexport.h"
#include "yek_devio.h"
#include "yek_task.h"
#include "yekpro_vaq.h"

namespace KVdepVaq100 {

using KVdepYek100::ChanDevio;
using KVdepYek100::ChanUser;
using KVdepYek100::Channel;
using KVdepYek100::Task;
using KVdepYek100::TaskFunc;

// The protocol object of the library, built when it is loaded.
extern VAQ_API Vaq_vaq_Proto theVaq_vaq_Proto;

// The plexer of a board's device channel: a task plexer that runs one step
// machine (Func) to its end per run, pumping the I/O channel on the caller's
// thread. Its status collects the failures of its exchanges.
class VAQ_API VaqTaskPlex : public KVdepYek100::TaskPlex, public Failables {
public:
    typedef TaskFunc::Func Func;

    // Both channels must speak vaq or a protocol that extends it.
    VaqTaskPlex(Channel* puc, ChanUser* pucIo);
    // The channels are not deleted.
    ~VaqTaskPlex() override;

    VaqTaskPlex(const VaqTaskPlex&) = delete;
    VaqTaskPlex& operator=(const VaqTaskPlex&) = delete;

    // Runs ptf, created with new by the caller, to its end. True when it
    // finished: the task engine owns it from now on and the caller may read
    // it until the next Func finishes. False when the exchange could not
    // finish (the I/O channel failed, or the Func waits for what never
    // comes): the plexer's status records why, ptf has been deleted with
    // the Funcs it called, the messages it held are released, and the
    // plexer is ready for the next run. The caller never deletes ptf.
    // The status then is bad "exchange failed" with the I/O channel's status
    // as cause, or failed "exchange not finished" when the channel is good.
    bool run(Func* ptf);
    // The task function has finished its Func.
    void done(Task* pta) override;

    // The open exchange, at most once with success per plexer; returns the
    // plexer's status. A failed status is cleared first, so that each open
    // is judged on its own; a bad one (a broken connection) returns at once.
    // A refused open is ("vaq", 215) with the exchange's status as cause.
    Failables& callVaqOpen();
    bool isVaqOpen() const { return !_sgIdent.empty(); }
    const std::string& sgIdent() const { return _sgIdent; }
    // Identity byte 4 x 256 + byte 3; -1 when the identity holds fewer than
    // 6 bytes (no model code).
    int eModel() const;
    bool isModel(int e) const;

    ChanUser* pucIo() const { return _pucIo; }
    Channel* puc() const { return _puc; }

    ChanUser* _pucIo;
    Channel* _puc;
    bool _fRun;
    std::string _sgIdent;

protected:
    // Runs a board client's request step ptf, whose own status is pfaStep.
    // True when it finished with a good status; a step that failed replaces
    // the plexer's status with its own.
    bool runStep(Func* ptf, const Failable* pfaStep);
};

// The open exchange: an empty VaqInit, answered by a VaqResp whose data is
// the board's identity.
class VAQ_API VaqOpenFunc : public TaskFunc::Func, public Failable {
public:
    explicit VaqOpenFunc(int cnVaq) : _cnVaq(cnVaq) {}
    int func(int e) override;
    ~VaqOpenFunc() override;

    int cnVaq() const { return _cnVaq; }
    const std::string& sgIdent() const { return _sgIdent; }

    int32_t _cnVaq;
    std::string _sgIdent;
};

// Opens "<szDevice>\vaq\0", builds the plexer on it and runs the open
// exchange. Good with an opened plexer, or failed with no plexer.
class VAQ_API VaqLocalTaskInitializer : public Failables {
public:
    explicit VaqLocalTaskInitializer(const char* szDevice);
    // Deletes the plexer, then the device channel.
    ~VaqLocalTaskInitializer();

    VaqLocalTaskInitializer(const VaqLocalTaskInitializer&) = delete;
    VaqLocalTaskInitializer& operator=(const VaqLocalTaskInitializer&) = delete;

    VaqTaskPlex* pap() const { return _pap; }
    ChanDevio* puc() const { return _puc; }

    ChanDevio* _puc;
    VaqTaskPlex* _pap;
};

// Non-zero while a key press waits in the console's input.
VAQ_API int kbhit();

// Writes "unexpected response ", the control's print form and a line end to
// the standard error stream; for the step machines of the board clients.
VAQ_API void reportUnexpected(const KVdepYek100::YekControl& uc);

}  // namespace KVdepVaq100
