// Board access of the time-interval-counter board in the qir protocol: the
// board plexer with register read and write and the loading of the FPGA
// configuration image (from memory, a file, or a file named from the board's
// identity along a list of directories), and the board initializers.
#pragma once

#include <cstddef>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>
#include <string>

#include "qirexport.h"
#include "vaq.h"
#include "yekpro_qir.h"

namespace KVdepQir100 {

using KVdepYek100::YekChanDevio;
using KVdepYek100::YekChannel;
using KVdepYek100::YekChanUser;
typedef KVdepYek100::TaskFunc::Func Func;

// The protocol object of the board access client, built when the library is
// loaded, before its ordinary static objects.
extern QIR_API Qir_qir_Proto theQir_qir_Proto;

class QirConfigFunc;

// An image in memory; its address is passed as the const char* argument of
// callQirInitData.
struct Dptr {
    const size_t _s;
    const char* _pch;
};

// The board plexer: the device plexer with the board's register operations
// and configuration loading. Its status collects the failures of its
// exchanges; register operations record theirs there but never test or
// clear it.
class QIR_API QirTaskPlex : public KVdepVaq100::VaqTaskPlex {
public:
    // Both channels must speak qir (or a protocol that extends it).
    QirTaskPlex(YekChannel* puc, YekChanUser* pucIo);
    ~QirTaskPlex() override;

    // The value of register iPort; -1 (all ones) when no answer came.
    int callQirRead(int iPort);
    // Writes iVal to register iPort: its low 16 bits, to the port's low 8.
    void callQirWrite(int iPort, int iVal);

    // The configuration loaded last: empty until a load ran, "local-data"
    // after a load from memory, the file path after a load from a file.
    const std::string& sgConfig() const { return _sgConfig; }

    // Each requires an opened plexer (isVaqOpen) and returns its status.
    // Memory: mpch is the address of a Dptr. The memory and file roads
    // record "incompatible device model" for a model not in the table and
    // load all the same.
    Failables& callQirInitData(const char* mpch);
    Failables& callQirInitFile(const char* szFile);
    // The file "<dir>/<12 hex digits of the identity>-<iVers, 4 digits>.rbf"
    // in the first directory that holds it; an empty list loads nothing.
    Failables& callQirInitPath(const std::list<std::string>& lisgPath, int iVers);

    // The file name of the configuration for this identity and version,
    // without directory and extension, for example "04b453160000-0131".
    static std::string sgStem(const std::string& sgIdent, int iVers);
    // True when identity bytes 3 and 4 name a model of the table.
    static bool isKnownModel(const std::string& sgIdent);

    std::string _sgConfig;

private:
    Failables& callQirConfig(const std::list<std::string>& lisgPath, int iVers);
    Failables& callQirConfig(const char* szFile);
    // Runs a loader whose init has been called and records its outcome; a
    // loader whose init failed is deleted without running.
    Failables& runConfig(QirConfigFunc* ptf);
    void checkModel();
};

// Register read: QirRead, answered by a QirResp whose iErr is the value.
class QIR_API QirReadFunc : public Func, public Failable {
public:
    QirReadFunc(int cnQir, int iPort, unsigned int* pnVal);
    int func(int eState) override;
    ~QirReadFunc() override;
    int cnQir() const { return _cnQir; }

    int32_t _cnQir;
    int32_t _iPort;
    unsigned int* _pnVal;
};

// Register write: QirWrite, answered by a QirResp.
class QIR_API QirWriteFunc : public Func, public Failable {
public:
    QirWriteFunc(int cnQir, int iPort, int iVal) : _cnQir(cnQir), _iPort(iPort), _iVal(iVal) {}
    int func(int eState) override;
    ~QirWriteFunc() override;
    int cnQir() const { return _cnQir; }

    int32_t _cnQir;
    int32_t _iPort;
    int32_t _iVal;
};

// The configuration loader: streams its source as QirCmd messages of up to
// 512 bytes, the last with fLast set, then takes the board's one QirWrResp.
class QIR_API QirConfigFunc : public Func, public Failable {
public:
    explicit QirConfigFunc(int cnQir) : _cnQir(cnQir) {}
    // Closes the file source if it is open.
    ~QirConfigFunc() override;

    // Each starts with the entry check (a failed status is reset, a bad one
    // returns unchanged) and returns the status.
    // mpch is the address of a Dptr; the bytes are copied.
    Failable& initData(const char* mpch);
    Failable& initFile(const char* szProg);
    // Tries "<dir>/<szProg>.rbf" in each directory in order and keeps the
    // first file that opens.
    Failable& initPath(const std::list<std::string>& lisgPath, const char* szProg);

    int func(int eState) override;

    std::streambuf* psb() const;
    const std::string& sgConfig() const { return _sgConfig; }
    int cnQir() const { return _cnQir; }

    int32_t _cnQir;
    std::unique_ptr<std::filebuf> _pfb;
    std::unique_ptr<std::stringbuf> _pgb;
    std::string _sgConfig;

private:
    bool openFile(const std::string& sgPath);
    Failable& checkNotEmpty();
};

// Opens "<szDevice>\qir\0", builds the plexer on it and runs the open
// exchange: good with an opened plexer, or failed with no plexer.
class QIR_API QirLocalTaskInitializer : public Failables {
public:
    explicit QirLocalTaskInitializer(const char* szDevice);
    // The same, then loads the configuration along the first directory of
    // mpszRbfPath (version 0); a null first entry loads nothing.
    QirLocalTaskInitializer(const char* szDevice, const char** mpszRbfPath);
    // Deletes the plexer, then the device channel.
    virtual ~QirLocalTaskInitializer();

    QirLocalTaskInitializer(const QirLocalTaskInitializer&) = delete;
    QirLocalTaskInitializer& operator=(const QirLocalTaskInitializer&) = delete;

    QirTaskPlex* prp() const { return _prp; }
    YekChanDevio* puc() const { return _puc; }

    YekChanDevio* _puc;
    QirTaskPlex* _prp;

private:
    bool open(const char* szDevice, int iLine, const char* szOpenFailed);
    void dropPlexer(const char* szErr);
};

// The first initializer; the image it is given is not used.
class QIR_API QirLocalTaskInitializerMem : public QirLocalTaskInitializer {
public:
    QirLocalTaskInitializerMem(const char* szDevice, const char* pchData, size_t s);
};

// The directories named by the environment variable sgVar (split at ';'),
// each followed by "/" and sgPostfix; empty when the variable is not set or
// empty.
QIR_API std::list<std::string> getEnv(std::string sgVar, std::string sgPostfix);

}  // namespace KVdepQir100
