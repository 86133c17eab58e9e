// The puli protocol of a pulse-line peer: pulse configuration, timer setting,
// initialisation, a prescaler configuration, sampling, stopping and one
// answer. It stands alone (types 4 to 10). The library builds no protocol
// object of it and sends none of its messages: an application that speaks
// puli constructs the protocol object and its channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "moruexport.h"
#include "yek.h"

namespace KVdepPuli100 {

using KVdepYek100::YekControl;
using KVdepYek100::YekTime;
typedef uint32_t u32;

const int ePuliPulseConfig = 4;
const int ePuliSetTimer = 5;
const int ePuliInit = 6;
const int ePuliConfig = 7;
const int ePuliSample = 8;
const int ePuliStop = 9;
const int ePuliResp = 10;

// Constructors take the type and the size (0: the class's own size); fields
// start at 0 (times at 0:0).

class MORU_API PuliPulseConfig : public YekControl {
public:
    explicit PuliPulseConfig(int eType = ePuliPulseConfig, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(PuliPulseConfig))
    {
    }
};

class MORU_API PuliSetTimer : public YekControl {
public:
    explicit PuliSetTimer(int eType = ePuliSetTimer, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(PuliSetTimer)), _ti()
    {
    }

    YekTime& ti() { return _ti; }
    const YekTime& ti() const { return _ti; }
    void ti(const YekTime& t) { _ti = t; }

    YekTime _ti;
};

class MORU_API PuliInit : public YekControl {
public:
    explicit PuliInit(int eType = ePuliInit, size_t s = 0) : YekControl(eType, s ? s : sizeof(PuliInit)) {}
};

// The prescaler.
class MORU_API PuliConfig : public YekControl {
public:
    explicit PuliConfig(int eType = ePuliConfig, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(PuliConfig)), _cScale(0)
    {
    }

    u32 cScale() const { return _cScale; }
    PuliConfig& cScale(u32 u)
    {
        _cScale = u;
        return *this;
    }

    u32 _cScale;
};

class MORU_API PuliSample : public YekControl {
public:
    explicit PuliSample(int eType = ePuliSample, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(PuliSample)), _tiTmo()
    {
    }

    YekTime& tiTmo() { return _tiTmo; }
    const YekTime& tiTmo() const { return _tiTmo; }
    void tiTmo(const YekTime& t) { _tiTmo = t; }

    YekTime _tiTmo;
};

class MORU_API PuliStop : public YekControl {
public:
    explicit PuliStop(int eType = ePuliStop, size_t s = 0) : YekControl(eType, s ? s : sizeof(PuliStop)) {}
};

// The only answer: error code (0 is success) and error index.
class MORU_API PuliResp : public YekControl {
public:
    explicit PuliResp(int eType = ePuliResp, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(PuliResp)), _eErr(0), _iErr(0)
    {
    }

    u32 eErr() const { return _eErr; }
    void eErr(u32 u) { _eErr = u; }
    u32 iErr() const { return _iErr; }
    void iErr(u32 u) { _iErr = u; }

    u32 _eErr;
    u32 _iErr;
};

static_assert(sizeof(PuliPulseConfig) == 8 && sizeof(PuliInit) == 8 && sizeof(PuliStop) == 8, "puli empties");
static_assert(sizeof(PuliSetTimer) == 16 && sizeof(PuliSample) == 16, "puli timed messages");
static_assert(sizeof(PuliConfig) == 12 && sizeof(PuliResp) == 16, "puli configuration and answer");

// The control as that class when its type fits, else null.
MORU_API PuliPulseConfig* pPuliPulseConfig(YekControl* puc);  // 4
MORU_API PuliSetTimer* pPuliSetTimer(YekControl* puc);        // 5
MORU_API PuliInit* pPuliInit(YekControl* puc);                // 6
MORU_API PuliConfig* pPuliConfig(YekControl* puc);            // 7
MORU_API PuliSample* pPuliSample(YekControl* puc);            // 8
MORU_API PuliStop* pPuliStop(YekControl* puc);                // 9
MORU_API PuliResp* pPuliResp(YekControl* puc);                // 10
MORU_API const PuliPulseConfig* pPuliPulseConfig(const YekControl* puc);
MORU_API const PuliSetTimer* pPuliSetTimer(const YekControl* puc);
MORU_API const PuliInit* pPuliInit(const YekControl* puc);
MORU_API const PuliConfig* pPuliConfig(const YekControl* puc);
MORU_API const PuliSample* pPuliSample(const YekControl* puc);
MORU_API const PuliStop* pPuliStop(const YekControl* puc);
MORU_API const PuliResp* pPuliResp(const YekControl* puc);

// Print forms: the header form, then each field as a blank, its label and
// its decimal value; a time as "sec:nsec".
MORU_API std::ostream& operator<<(std::ostream& os, const PuliPulseConfig& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliSetTimer& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliInit& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliConfig& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliSample& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliStop& m);
MORU_API std::ostream& operator<<(std::ostream& os, const PuliResp& m);

// Wire forms: the type byte, then the fields; reading starts behind the type
// byte.
MORU_API xostream& xmarshal(xostream& xo, const PuliPulseConfig& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliSetTimer& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliInit& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliConfig& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliSample& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliStop& m);
MORU_API xostream& xmarshal(xostream& xo, const PuliResp& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliPulseConfig& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliSetTimer& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliInit& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliConfig& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliSample& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliStop& m);
MORU_API xistream& xunmarsh(xistream& xi, PuliResp& m);

// The protocol class, name "puli". Its signature shares the first three
// groups with moru's, but neither is a prefix of the other.
class MORU_API Puli_puli_Proto : public KVdepYek100::YekProto {
public:
    Puli_puli_Proto();

    // Types 4 to 10; every other type fails the stream ("yekpro_puli", 269)
    // and builds nothing.
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 4 to 10; every other type as the message core writes it.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;
};

}  // namespace KVdepPuli100
