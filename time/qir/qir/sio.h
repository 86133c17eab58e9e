// The sio channel client of the digital I/O: the device plexer of a board's
// sio channel, the steps that carry one sio request and its answer each, the
// protocol object, and an initializer that opens a board's sio channel 0 and
// runs the open exchange.
#pragma once

#include "failable.h"
#include "sioexport.h"
#include "vaq.h"
#include "yek_devio.h"
#include "yekpro_sio.h"

namespace KVdepSio100 {

using KVdepYek100::ChanUser;
using KVdepYek100::Channel;
typedef KVdepYek100::TaskFunc::Func Func;

// The protocol object of the library, built when it is loaded, before its
// ordinary static objects. Every sio channel of the library is made with it.
extern SIO_API Sio_sio_Proto theSio_sio_Proto;

// The device plexer on a board's sio channel.
class SIO_API SioTaskPlex : public KVdepVaq100::VaqTaskPlex {
public:
    // Both channels must speak sio (or a protocol that extends it).
    SioTaskPlex(Channel* puc, ChanUser* pucIo);
    ~SioTaskPlex() override;

    // One request each, run to its end. A failed exchange is recorded in the
    // plexer's status: the sync then returns -1, the read -1 (all ones).
    int callSioSync(int f);
    int callSioRead(int iPort);
    void callSioWrite(int iPort, int iVal);
};

// The three steps: state 0 waits for an up buffer, state 1 sends the request,
// state 2 reads the answer. The answer's eErr is not looked at. Each step's
// status fails only when the answer is not a SioResp ("unexpected response"
// with the answer's type).

// A synchronisation with control flags f.
class SIO_API SioSyncFunc : public Func, public Failable {
public:
    SioSyncFunc(int cnSio, int f) : _cnSio(cnSio), _f(f) {}
    int func(int e) override;
    ~SioSyncFunc() override;

    int cnSio() const { return _cnSio; }
    int f() const { return _f; }

    int32_t _cnSio;
    int32_t _f;
};

// A read of port iPort: the answer's fStat is the value.
class SIO_API SioReadFunc : public Func, public Failable {
public:
    SioReadFunc(int cnSio, int iPort) : _cnSio(cnSio), _iPort(iPort), _iVal(0) {}
    int func(int e) override;
    ~SioReadFunc() override;

    int cnSio() const { return _cnSio; }
    // The value read; 0 until the answer has come.
    int iVal() const { return _iVal; }

    int32_t _cnSio;
    int32_t _iPort;
    int32_t _iVal;
};

// A write of iVal to port iPort.
class SIO_API SioWriteFunc : public Func, public Failable {
public:
    SioWriteFunc(int cnSio, int iPort, int iVal) : _cnSio(cnSio), _iPort(iPort), _iVal(iVal) {}
    int func(int e) override;
    ~SioWriteFunc() override;

    int cnSio() const { return _cnSio; }

    int32_t _cnSio;
    int32_t _iPort;
    int32_t _iVal;
};

// Opens "<szDevice>\sio\0", builds the plexer on it and runs the open
// exchange: good with an opened plexer, or failed with the channel kept and
// no plexer.
class SIO_API SioLocalTaskInitializer : public Failables {
public:
    explicit SioLocalTaskInitializer(const char* szDevice);
    // Deletes the plexer, then the device channel.
    ~SioLocalTaskInitializer();

    SioLocalTaskInitializer(const SioLocalTaskInitializer&) = delete;
    SioLocalTaskInitializer& operator=(const SioLocalTaskInitializer&) = delete;

    SioTaskPlex* psp() const { return _psp; }
    KVdepYek100::YekChanDevio* puc() const { return _puc; }

    KVdepYek100::YekChanDevio* _puc;
    SioTaskPlex* _psp;
};

}  // namespace KVdepSio100
