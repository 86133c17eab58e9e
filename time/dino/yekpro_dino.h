// The dino protocol: images of digital inputs and outputs between a client
// that knows its bits by name and a server that drives the hardware. An open
// names one port and learns where its bit lies in the images; a sync sends
// the whole output image and gets the whole input image back. The protocol
// stands alone: its messages are types 4 to 7.
//
// Data areas: a DinoOpen carries the port name (no terminator, at most 512
// characters); a DinoSync the client's output image; the DinoResp that
// answers it the input image; a DinoOpenResp no data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "dinoexport.h"
#include "yek.h"

namespace KVdepDino100 {

using KVdepYek100::YekControl;
using KVdepYek100::YekTime;
typedef uint32_t u32;

const int eDinoResp = 4;
const int eDinoOpenResp = 5;
const int eDinoOpen = 6;
const int eDinoSync = 7;

// Every constructor takes the type and the size; a size of 0 stands for the
// class's own size. Fields start at 0.

// The answer: error code (0 is success) and detail.
class DINO_API DinoResp : public YekControl {
public:
    explicit DinoResp(int eType = eDinoResp, size_t s = 0)
        : YekControl(eType, s ? s : sizeof(DinoResp)), _eErr(0), _iErr(0)
    {
    }

    u32 eErr() const { return _eErr; }
    u32 iErr() const { return _iErr; }
    DinoResp& eErr(u32 u) { _eErr = u; return *this; }
    DinoResp& iErr(u32 u) { _iErr = u; return *this; }

    u32 _eErr;
    u32 _iErr;
};

// The answer to an open: where the port's bit lies (both 0: unknown port).
class DINO_API DinoOpenResp : public DinoResp {
public:
    explicit DinoOpenResp(int eType = eDinoOpenResp, size_t s = 0)
        : DinoResp(eType, s ? s : sizeof(DinoOpenResp)), _fBit(0), _iByte(0)
    {
    }

    u32 fBit() const { return _fBit; }
    u32 iByte() const { return _iByte; }
    DinoOpenResp& fBit(u32 u) { _fBit = u; return *this; }
    DinoOpenResp& iByte(u32 u) { _iByte = u; return *this; }

    u32 _fBit;
    u32 _iByte;
};

// Names a port by its data.
class DINO_API DinoOpen : public YekControl {
public:
    explicit DinoOpen(int eType = eDinoOpen, size_t s = 0) : YekControl(eType, s ? s : sizeof(DinoOpen)) {}
};

// Carries the output image; the time-out is carried but always zero.
class DINO_API DinoSync : public YekControl {
public:
    explicit DinoSync(int eType = eDinoSync, size_t s = 0) : YekControl(eType, s ? s : sizeof(DinoSync)), _tiTmo() {}

    const YekTime& tiTmo() const { return _tiTmo; }
    DinoSync& tiTmo(const YekTime& ti) { _tiTmo = ti; return *this; }

    YekTime _tiTmo;
};

static_assert(sizeof(DinoResp) == 16 && sizeof(DinoOpenResp) == 24, "dino answers");
static_assert(sizeof(DinoOpen) == 8 && sizeof(DinoSync) == 16, "dino requests");

// The control as that class when its type fits, else null; pDinoResp also
// accepts a DinoOpenResp.
DINO_API DinoResp* pDinoResp(YekControl* puc);          // 4, 5
DINO_API DinoOpenResp* pDinoOpenResp(YekControl* puc);  // 5
DINO_API DinoOpen* pDinoOpen(YekControl* puc);          // 6
DINO_API DinoSync* pDinoSync(YekControl* puc);          // 7
DINO_API const DinoResp* pDinoResp(const YekControl* puc);
DINO_API const DinoOpenResp* pDinoOpenResp(const YekControl* puc);
DINO_API const DinoOpen* pDinoOpen(const YekControl* puc);
DINO_API const DinoSync* pDinoSync(const YekControl* puc);

// Print forms: the header form, then each field as a blank, its label and
// its decimal value; the time as "tiTmo=" and "sec:nsec".
DINO_API std::ostream& operator<<(std::ostream& os, const DinoResp& m);
DINO_API std::ostream& operator<<(std::ostream& os, const DinoOpenResp& m);
DINO_API std::ostream& operator<<(std::ostream& os, const DinoOpen& m);
DINO_API std::ostream& operator<<(std::ostream& os, const DinoSync& m);

// Wire forms: xmarshal writes the type byte and the fields (DinoResp 9 bytes,
// DinoOpenResp 12, DinoOpen 1, DinoSync 9); xunmarsh reads the fields behind
// the type byte.
DINO_API xostream& xmarshal(xostream& xo, const DinoResp& m);
DINO_API xostream& xmarshal(xostream& xo, const DinoOpenResp& m);
DINO_API xostream& xmarshal(xostream& xo, const DinoOpen& m);
DINO_API xostream& xmarshal(xostream& xo, const DinoSync& m);
DINO_API xistream& xunmarsh(xistream& xi, DinoResp& m);
DINO_API xistream& xunmarsh(xistream& xi, DinoOpenResp& m);
DINO_API xistream& xunmarsh(xistream& xi, DinoOpen& m);
DINO_API xistream& xunmarsh(xistream& xi, DinoSync& m);

// The protocol object, name "dino". There is no global one: the headers of
// the clients and of the digital-I/O server each give their units their own.
class DINO_API Dino_dino_Proto : public KVdepYek100::YekProto {
public:
    Dino_dino_Proto();

    // Types 4 to 7; every other type fails the stream ("yekpro_dino", 169).
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 4 to 7; every other type as the message core writes it.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;
};

}  // namespace KVdepDino100
