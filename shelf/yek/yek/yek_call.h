// Plain calls on a driver channel for application programs: one message sent,
// one received, or both, per call, with no pools, tasks or plexers; the
// caller supplies the control structure and the data memory. Call objects are
// made by factories, and factories by the implementations registered in a
// small table, chosen by a text "mode:argument" ("kernel:\\.\ZEDOZ_EVU_0").
#pragma once

#include "failable.h"
#include "kvwindows.h"
#include "yek_driver.h"
#include "yekexport.h"

namespace KVdepYek100 {

// A call interface to one channel. Its status is the call's: good at
// construction; a failed request leaves it failed and every later request
// returns at once.
class YEK_API YekCall : public Failables {
public:
    explicit YekCall(const YekProto* pup) : _pup(pup) {}

    virtual Failables& putMsg(const YekControl* puc, const YekData* pud) = 0;
    // Waits for the channel's next message.
    virtual Failables& getMsg(YekControlBuf* puc, YekData* pud) = 0;
    // putMsg, then getMsg unless putMsg failed.
    virtual Failables& xchMsg(const YekControl* pucd, const YekData* pudd, YekControlBuf* pucu, YekData* pudu);
    virtual bool canPut() { return true; }
    virtual ~YekCall();

    YekCall(const YekCall&) = delete;
    YekCall& operator=(const YekCall&) = delete;

    const YekProto* pup() const { return _pup; }

    const YekProto* _pup;
};

// A call over a channel of the kernel driver: the same open path, protocol
// check and control codes as the device channel, plus the exchange code.
// Failures are failed (not bad) statuses with the system error code.
class YEK_API YekKernel : public YekCall {
public:
    YekKernel(const YekProto* pup, const char* szDev, const char* szChan);
    // Closes the handle when the open got one.
    ~YekKernel() override;

    // A null data record sends no data / takes none; a null control fails
    // the call with nothing sent. The receiving control record is what the
    // buffer's header announces (at least 128 bytes for the driver): a caller
    // that reuses a buffer resets its header first.
    Failables& putMsg(const YekControl* puc, const YekData* pud) override;
    Failables& getMsg(YekControlBuf* puc, YekData* pud) override;
    // One request to the driver, not a put followed by a get.
    Failables& xchMsg(const YekControl* pucd, const YekData* pudd, YekControlBuf* pucu, YekData* pudu) override;

    HANDLE h() const { return _h; }

    // Null before the open, the invalid handle value after a failed open.
    HANDLE _h;
};

// Makes call objects on one kind of channel.
class YEK_API Factory {
public:
    Factory() = default;
    // A good status and *ppum set to a new call object on channel iChan, or
    // the call's failed status and *ppum null.
    virtual Failables createYek(YekCall** ppum, const YekProto* pup, int iChan) = 0;
    virtual ~Factory();

    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;
};

// Kernel calls on the device path it was made with.
class YEK_API FactoryKernel : public Factory {
public:
    // Keeps its own copy of the path (null counts as the empty path).
    explicit FactoryKernel(const char* szPath);
    ~FactoryKernel() override;

    // The channel is named by the digit '0' + iChan.
    Failables createYek(YekCall** ppum, const YekProto* pup, int iChan) override;

    const char* szPath() const { return _szPath; }

    char* _szPath;
};

// An implementation of factories, named; it makes a factory when it
// understands the mode of a text.
class YEK_API FactoryImplementation {
public:
    explicit FactoryImplementation(const char* szName) : _szName(szName) {}
    virtual Factory* createFactory(const char* szMode, const char* szArg) = 0;
    // Leaves the table of implementations when it is in it.
    virtual ~FactoryImplementation();

    FactoryImplementation(const FactoryImplementation&) = delete;
    FactoryImplementation& operator=(const FactoryImplementation&) = delete;

    const char* szName() const { return _szName; }

    const char* _szName;
};

class Factories;

// The implementation "kernel": a mode beginning with 'k' makes a
// FactoryKernel on the argument as device path.
class YEK_API FactoryImplementationKernel : public FactoryImplementation {
public:
    // Registers itself in pfa.
    explicit FactoryImplementationKernel(Factories* pfa);
    Factory* createFactory(const char* szMode, const char* szArg) override;
};

// The table of implementations, shared by every Factories object: three
// entries take registrations, the fourth stays null and ends every walk.
class YEK_API Factories {
public:
    static constexpr int cEntries = 4;

    Factories() {}
    ~Factories() {}

    // Into the first free entry; a fourth registration is a broken invariant.
    void registerFactoryImplementation(FactoryImplementation* pfi);
    // Takes an implementation out again (the later ones move up).
    void unregisterFactoryImplementation(FactoryImplementation* pfi);
    // Field 0 of szArg is the mode, field 1 the argument; the implementations
    // are asked in registration order and the first factory made is returned,
    // or null when none accepts.
    Factory* createFactory(const char* szArg);

    static FactoryImplementation* mpPff[cEntries];
};

// Field i of a colon-separated text, as a pointer into it: field 0 is the
// whole text; field i above 0 follows the i-th colon that has a character
// behind it and runs to the end of the text; "" when there are fewer.
YEK_API const char* szField(const char* sz, int i);

// The table of the library and its "kernel" implementation, registered when
// the library is loaded.
extern YEK_API Factories fact;
extern YEK_API FactoryImplementationKernel fiKernel;

}  // namespace KVdepYek100
