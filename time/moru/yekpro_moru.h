// The moru protocol between the analyzer client and an analyzer server:
// pulse configuration, timer setting, initialisation, measurement
// configuration, sampling, stopping and the two answers. It stands alone, so
// its messages are types 4 to 11. Every field is 32 bits in memory; the wire
// form of each is narrower where the table in yekpro_moru.cpp says so, and a
// wider value goes out with its low bytes.
//
// Indexed fields hold one entry per input channel (0 and 1): channel 0 is the
// leading or only signal, channel 1 the trailing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "moruexport.h"
#include "yek.h"

namespace KVdepMoru100 {

using KVdepYek100::YekControl;
using KVdepYek100::YekTime;
typedef uint32_t u32;

const int eMoruPulseConfig = 4;
const int eMoruSetTimer = 5;
const int eMoruInit = 6;
const int eMoruConfig = 7;
const int eMoruSample = 8;
const int eMoruStop = 9;
const int eMoruResp = 10;
const int eMoruSampleResp = 11;

// Every constructor takes the type and the size; a size of 0 stands for the
// class's own size. Fields start at 0 (times at 0:0). Indexes of indexed
// fields are not checked: 0 or 1.

class MORU_API MoruPulseConfig : public YekControl {
public:
    explicit MoruPulseConfig(int eType = eMoruPulseConfig, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(MoruPulseConfig))
    {
    }
};

class MORU_API MoruSetTimer : public YekControl {
public:
    explicit MoruSetTimer(int eType = eMoruSetTimer, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(MoruSetTimer)), _ti()
    {
    }

    YekTime& ti() { return _ti; }
    const YekTime& ti() const { return _ti; }
    void ti(const YekTime& t) { _ti = t; }

    YekTime _ti;
};

class MORU_API MoruInit : public YekControl {
public:
    explicit MoruInit(int eType = eMoruInit, size_t s = 0) : YekControl(eType, s ? s : sizeof(MoruInit)) {}
};

// The measurement configuration: prescaler, and per channel the ignore-first
// flag, the count limit, the edge to stamp ('f' falling, 'r' rising) and the
// server's enable, arming, exclusion and filter selections.
class MORU_API MoruConfig : public YekControl {
public:
    explicit MoruConfig(int eType = eMoruConfig, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(MoruConfig)), _cScale(0), _mpfIgnFirst(), _mpcLimit(), _mpeFilt(),
          _mpeEdge(), _mpeFil(), _mpeEna(), _mpeArm(), _mpeExc(), _mpeFiExc(), _mpeFiArm(), _mpeFiEna()
    {
    }

    u32 cScale() const { return _cScale; }
    MoruConfig& cScale(u32 u)
    {
        _cScale = u;
        return *this;
    }
    u32 fIgnFirst(int i) const { return _mpfIgnFirst[i]; }
    void fIgnFirst(int i, u32 u) { _mpfIgnFirst[i] = u; }
    u32 cLimit(int i) const { return _mpcLimit[i]; }
    void cLimit(int i, u32 u) { _mpcLimit[i] = u; }
    u32 eFilt(int i) const { return _mpeFilt[i]; }
    void eFilt(int i, u32 u) { _mpeFilt[i] = u; }
    u32 eEdge(int i) const { return _mpeEdge[i]; }
    void eEdge(int i, u32 u) { _mpeEdge[i] = u; }
    u32 eFil(int i) const { return _mpeFil[i]; }
    void eFil(int i, u32 u) { _mpeFil[i] = u; }
    u32 eEna(int i) const { return _mpeEna[i]; }
    void eEna(int i, u32 u) { _mpeEna[i] = u; }
    u32 eArm(int i) const { return _mpeArm[i]; }
    void eArm(int i, u32 u) { _mpeArm[i] = u; }
    u32 eExc(int i) const { return _mpeExc[i]; }
    void eExc(int i, u32 u) { _mpeExc[i] = u; }
    u32 eFiExc(int i) const { return _mpeFiExc[i]; }
    void eFiExc(int i, u32 u) { _mpeFiExc[i] = u; }
    u32 eFiArm(int i) const { return _mpeFiArm[i]; }
    void eFiArm(int i, u32 u) { _mpeFiArm[i] = u; }
    u32 eFiEna(int i) const { return _mpeFiEna[i]; }
    void eFiEna(int i, u32 u) { _mpeFiEna[i] = u; }

    u32 _cScale;
    u32 _mpfIgnFirst[2];
    u32 _mpcLimit[2];
    u32 _mpeFilt[2];
    u32 _mpeEdge[2];
    u32 _mpeFil[2];
    u32 _mpeEna[2];
    u32 _mpeArm[2];
    u32 _mpeExc[2];
    u32 _mpeFiExc[2];
    u32 _mpeFiArm[2];
    u32 _mpeFiEna[2];
};

// The sample request: the time-out, how many FIFOs to read and which.
class MORU_API MoruSample : public YekControl {
public:
    explicit MoruSample(int eType = eMoruSample, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(MoruSample)), _tiTmo(), _cFifo(0), _mpiFifo(), _cMax(0)
    {
    }

    YekTime& tiTmo() { return _tiTmo; }
    const YekTime& tiTmo() const { return _tiTmo; }
    void tiTmo(const YekTime& t) { _tiTmo = t; }
    u32 cFifo() const { return _cFifo; }
    MoruSample& cFifo(u32 u)
    {
        _cFifo = u;
        return *this;
    }
    u32 iFifo(int i) const { return _mpiFifo[i]; }
    void iFifo(int i, u32 u) { _mpiFifo[i] = u; }
    u32 cMax() const { return _cMax; }
    MoruSample& cMax(u32 u)
    {
        _cMax = u;
        return *this;
    }

    YekTime _tiTmo;
    u32 _cFifo;
    u32 _mpiFifo[2];
    u32 _cMax;
};

class MORU_API MoruStop : public YekControl {
public:
    explicit MoruStop(int eType = eMoruStop, size_t s = 0) : YekControl(eType, s ? s : sizeof(MoruStop)) {}
};

// The answer: the server's error code (0 is success) and an error index.
class MORU_API MoruResp : public YekControl {
public:
    explicit MoruResp(int eType = eMoruResp, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(MoruResp)), _eErr(0), _iErr(0)
    {
    }

    u32 eErr() const { return _eErr; }
    void eErr(u32 u) { _eErr = u; }
    u32 iErr() const { return _iErr; }
    void iErr(u32 u) { _iErr = u; }

    u32 _eErr;
    u32 _iErr;
};

// One answer per FIFO to a sample request; its data are the FIFO's 8-byte
// lines, oldest first. _iFifo is the FIFO's position in the request.
class MORU_API MoruSampleResp : public MoruResp {
public:
    explicit MoruSampleResp(int eType = eMoruSampleResp, size_t s = 0)
        : MoruResp(eType, s ? s : sizeof(MoruSampleResp)), _cSamples(0), _iFifo(0)
    {
    }

    u32 cSamples() const { return _cSamples; }
    void cSamples(u32 u) { _cSamples = u; }
    u32 iFifo() const { return _iFifo; }
    void iFifo(u32 u) { _iFifo = u; }

    u32 _cSamples;
    u32 _iFifo;
};

// The messages are compared and copied byte by byte: no padding may hide in
// them, and each fits a receive area.
static_assert(sizeof(MoruPulseConfig) == 8 && sizeof(MoruInit) == 8 && sizeof(MoruStop) == 8, "moru empties");
static_assert(sizeof(MoruSetTimer) == 16, "MoruSetTimer is 16 bytes");
static_assert(sizeof(MoruConfig) == 100, "MoruConfig is 100 bytes");
static_assert(sizeof(MoruSample) == 32, "MoruSample is 32 bytes");
static_assert(sizeof(MoruResp) == 16 && sizeof(MoruSampleResp) == 24, "moru answers");
static_assert(sizeof(MoruConfig) <= KVdepYek100::YekControlBuf::cbRoom, "a moru message fits a receive area");

// The control as that class when its type fits, else null; pMoruResp also
// accepts a MoruSampleResp.
MORU_API MoruPulseConfig* pMoruPulseConfig(YekControl* puc);  // 4
MORU_API MoruSetTimer* pMoruSetTimer(YekControl* puc);        // 5
MORU_API MoruInit* pMoruInit(YekControl* puc);                // 6
MORU_API MoruConfig* pMoruConfig(YekControl* puc);            // 7
MORU_API MoruSample* pMoruSample(YekControl* puc);            // 8
MORU_API MoruStop* pMoruStop(YekControl* puc);                // 9
MORU_API MoruResp* pMoruResp(YekControl* puc);                // 10, 11
MORU_API MoruSampleResp* pMoruSampleResp(YekControl* puc);    // 11
MORU_API const MoruPulseConfig* pMoruPulseConfig(const YekControl* puc);
MORU_API const MoruSetTimer* pMoruSetTimer(const YekControl* puc);
MORU_API const MoruInit* pMoruInit(const YekControl* puc);
MORU_API const MoruConfig* pMoruConfig(const YekControl* puc);
MORU_API const MoruSample* pMoruSample(const YekControl* puc);
MORU_API const MoruStop* pMoruStop(const YekControl* puc);
MORU_API const MoruResp* pMoruResp(const YekControl* puc);
MORU_API const MoruSampleResp* pMoruSampleResp(const YekControl* puc);

// Print forms: the header form, then each field as a blank, its label and
// its decimal value; an indexed field its label once and each entry after a
// blank; a time as "sec:nsec".
MORU_API std::ostream& operator<<(std::ostream& os, const MoruPulseConfig& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruSetTimer& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruInit& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruConfig& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruSample& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruStop& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruResp& m);
MORU_API std::ostream& operator<<(std::ostream& os, const MoruSampleResp& m);

// Wire forms: xmarshal writes the type byte and the fields; xunmarsh reads
// the fields behind the type byte, which the caller has read.
MORU_API xostream& xmarshal(xostream& xo, const MoruPulseConfig& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruSetTimer& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruInit& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruConfig& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruSample& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruStop& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruResp& m);
MORU_API xostream& xmarshal(xostream& xo, const MoruSampleResp& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruPulseConfig& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruSetTimer& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruInit& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruConfig& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruSample& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruStop& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruResp& m);
MORU_API xistream& xunmarsh(xistream& xi, MoruSampleResp& m);

// The protocol object, name "moru".
class MORU_API Moru_moru_Proto : public KVdepYek100::YekProto {
public:
    Moru_moru_Proto();

    // Types 4 to 11; every other type fails the stream ("yekpro_moru", 353)
    // and builds nothing.
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 4 to 11; every other type as the message core writes it.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;
};

// The library's protocol object, built when it is loaded. The library does
// not use it itself: the application builds its channels with it.
extern MORU_API Moru_moru_Proto theMoru_moru_Proto;

}  // namespace KVdepMoru100
