// The board protocol qir of the time-interval-counter board: register reads
// and writes, transfers with a time-out, command transfers that carry a
// payload in their data part, and the board's answers. It extends vaq: its
// own messages are types 7 to 14 and every other type goes to vaq.
//
// In memory every field is a 32-bit word; on the wire a register port is one
// byte and a value two, so their upper bits do not travel.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#endif

#include "qircexport.h"
#include "yek.h"

namespace KVdepQir100 {

using KVdepYek100::YekControl;
using KVdepYek100::YekTime;
typedef uint32_t u_int;

const int eQirRead = 7;
const int eQirWrite = 8;
const int eQirTrf = 9;
const int eQirFini = 10;
const int eQirCmd = 11;
const int eQirResp = 12;
const int eQirWrResp = 13;
const int eQirInfoResp = 14;

// Every constructor takes the type and the size; a size of 0 stands for the
// class's own size. Fields start at 0.

// Read of register _iPort.
class QIRC_API QirRead : public YekControl {
public:
    explicit QirRead(int e = eQirRead, size_t s = 0) : YekControl(e, s ? s : sizeof(QirRead)), _iPort(0) {}

    u_int iPort() const { return _iPort; }
    QirRead& iPort(u_int u) { _iPort = u; return *this; }

    u_int _iPort;
};

// Write of _iVal to register _iPort.
class QIRC_API QirWrite : public QirRead {
public:
    explicit QirWrite(int e = eQirWrite, size_t s = 0) : QirRead(e, s ? s : sizeof(QirWrite)), _iVal(0) {}

    u_int iVal() const { return _iVal; }
    QirWrite& iVal(u_int u) { _iVal = u; return *this; }

    u_int _iVal;
};

// A transfer with a time-out, its number and the last-transfer flag.
class QIRC_API QirTrf : public YekControl {
public:
    explicit QirTrf(int e = eQirTrf, size_t s = 0) : YekControl(e, s ? s : sizeof(QirTrf)), _tiTmo(), _iTrans(0), _fLast(0) {}

    const YekTime& tiTmo() const { return _tiTmo; }
    void tiTmo(const YekTime& ti) { _tiTmo = ti; }
    u_int iTrans() const { return _iTrans; }
    QirTrf& iTrans(u_int u) { _iTrans = u; return *this; }
    bool fLast() const { return _fLast != 0; }
    QirTrf& fLast(bool f) { _fLast = f ? 1 : 0; return *this; }

    YekTime _tiTmo;
    u_int _iTrans;
    u_int _fLast;
};

class QIRC_API QirFini : public YekControl {
public:
    explicit QirFini(int e = eQirFini, size_t s = 0) : YekControl(e, s ? s : sizeof(QirFini)) {}
};

// A transfer whose data part carries a command payload.
class QIRC_API QirCmd : public QirTrf {
public:
    explicit QirCmd(int e = eQirCmd, size_t s = 0) : QirTrf(e, s ? s : sizeof(QirCmd)) {}
};

// The answer: error class (0 is success), error detail or the register value
// read, and the board's status word.
class QIRC_API QirResp : public YekControl {
public:
    explicit QirResp(int e = eQirResp, size_t s = 0) : YekControl(e, s ? s : sizeof(QirResp)), _eErr(0), _iErr(0), _fStat(0) {}

    u_int eErr() const { return _eErr; }
    u_int iErr() const { return _iErr; }
    u_int fStat() const { return _fStat; }
    QirResp& eErr(u_int u) { _eErr = u; return *this; }
    QirResp& iErr(u_int u) { _iErr = u; return *this; }
    QirResp& fStat(u_int u) { _fStat = u; return *this; }

    u_int _eErr;
    u_int _iErr;
    u_int _fStat;
};

// The answer to a sequence of command transfers, with the transfer count.
class QIRC_API QirWrResp : public QirResp {
public:
    explicit QirWrResp(int e = eQirWrResp, size_t s = 0) : QirResp(e, s ? s : sizeof(QirWrResp)), _cTrans(0) {}

    u_int cTrans() const { return _cTrans; }
    QirWrResp& cTrans(u_int u) { _cTrans = u; return *this; }

    u_int _cTrans;
};

// Board information, embedded in QirInfoResp; not a message.
class QIRC_API QirInfo {
public:
    QirInfo() : _eArch(0), _cIntr(0), _fLinec(0) {}
    QirInfo(u_int eArch, u_int cIntr, u_int fLinec) : _eArch(eArch), _cIntr(cIntr), _fLinec(fLinec) {}

    u_int eArch() const { return _eArch; }
    u_int cIntr() const { return _cIntr; }
    u_int fLinec() const { return _fLinec; }
    QirInfo& eArch(u_int u) { _eArch = u; return *this; }
    QirInfo& cIntr(u_int u) { _cIntr = u; return *this; }
    QirInfo& fLinec(u_int u) { _fLinec = u; return *this; }

    u_int _eArch;   // architecture
    u_int _cIntr;   // interrupt count
    u_int _fLinec;  // line flags
};

class QIRC_API QirInfoResp : public QirResp {
public:
    explicit QirInfoResp(int e = eQirInfoResp, size_t s = 0) : QirResp(e, s ? s : sizeof(QirInfoResp)), _info() {}

    const QirInfo& info() const { return _info; }
    QirInfoResp& info(const QirInfo& info) { _info = info; return *this; }

    QirInfo _info;
};

// The layouts are what clients hand to the device interface and are compared
// byte by byte: no padding may hide in them.
static_assert(sizeof(QirRead) == 12 && sizeof(QirWrite) == 16, "qir register messages");
static_assert(sizeof(QirTrf) == 24 && sizeof(QirCmd) == 24 && sizeof(QirFini) == 8, "qir transfer messages");
static_assert(sizeof(QirResp) == 20 && sizeof(QirWrResp) == 24, "qir answers");
static_assert(sizeof(QirInfo) == 12 && sizeof(QirInfoResp) == 32, "qir information answer");
static_assert(sizeof(QirInfoResp) <= KVdepYek100::YekControlBuf::cbRoom, "every qir message fits a receive area");

// The control as that class when its type fits, else null. A view of a base
// class also accepts the types of its derived classes.
QIRC_API QirRead* pQirRead(YekControl* puc);        // 7, 8
QIRC_API QirWrite* pQirWrite(YekControl* puc);      // 8
QIRC_API QirTrf* pQirTrf(YekControl* puc);          // 9, 11
QIRC_API QirFini* pQirFini(YekControl* puc);        // 10
QIRC_API QirCmd* pQirCmd(YekControl* puc);          // 11
QIRC_API QirResp* pQirResp(YekControl* puc);        // 12, 13, 14
QIRC_API QirWrResp* pQirWrResp(YekControl* puc);    // 13
QIRC_API QirInfoResp* pQirInfoResp(YekControl* puc);  // 14
QIRC_API const QirRead* pQirRead(const YekControl* puc);
QIRC_API const QirWrite* pQirWrite(const YekControl* puc);
QIRC_API const QirTrf* pQirTrf(const YekControl* puc);
QIRC_API const QirFini* pQirFini(const YekControl* puc);
QIRC_API const QirCmd* pQirCmd(const YekControl* puc);
QIRC_API const QirResp* pQirResp(const YekControl* puc);
QIRC_API const QirWrResp* pQirWrResp(const YekControl* puc);
QIRC_API const QirInfoResp* pQirInfoResp(const YekControl* puc);

#ifndef KV_KERNEL
// Print forms: the header form, then each field, base fields first, as a
// blank, the decimal value's label and the value.
QIRC_API std::ostream& operator<<(std::ostream& os, const QirRead& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirWrite& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirTrf& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirFini& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirCmd& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirResp& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirWrResp& m);
// " eArch=.. cIntr=.. fLinec=..", each after a blank.
QIRC_API std::ostream& operator<<(std::ostream& os, const QirInfo& info);
QIRC_API std::ostream& operator<<(std::ostream& os, const QirInfoResp& m);
#endif

// Wire forms: xmarshal writes the type byte and the fields, xunmarsh reads
// the fields behind the type byte, which the caller has read. QirInfo has no
// type byte of its own.
QIRC_API xostream& xmarshal(xostream& xo, const QirRead& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirWrite& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirTrf& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirFini& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirCmd& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirResp& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirWrResp& m);
QIRC_API xostream& xmarshal(xostream& xo, const QirInfo& info);
QIRC_API xostream& xmarshal(xostream& xo, const QirInfoResp& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirRead& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirWrite& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirTrf& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirFini& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirCmd& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirResp& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirWrResp& m);
QIRC_API xistream& xunmarsh(xistream& xi, QirInfo& info);
QIRC_API xistream& xunmarsh(xistream& xi, QirInfoResp& m);

// The qir protocol object, name "qir". It derives from YekProto, not from the
// vaq protocol object, and reaches vaq's operations without a vaq object, so
// a host can build it alone.
class QIRC_API Qir_qir_Proto : public KVdepYek100::YekProto {
public:
    Qir_qir_Proto();

    // Types 7 to 14; every other type as vaq reads it (4 and 6, the rest fails).
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 7 to 14; every other type as vaq writes it.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;
};

}  // namespace KVdepQir100
