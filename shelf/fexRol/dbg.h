// Debug dumps of byte buffers and the optional debug stream.
#pragma once

#include <iosfwd>

#include "kvexport.h"

// Two hexadecimal digits per byte, chDel before every fourth byte after the
// first: 01 02 a3 ff 00 01 02 03 with '.' gives "0102a3ff.00010203".
FEXROL_API void debug_showhex(std::ostream& os, const char* pch, int c, int chDel);
FEXROL_API void debug_showhex(std::ostream& os, const void* p, int c, int chDel);
// A printable byte (33..126) as a blank and the character, any other as two
// hexadecimal digits.
FEXROL_API void debug_showbuf(std::ostream& os, const char* pch, int c);

extern "C" FEXROL_API int addone(int i);

class FEXROL_API DebugLog {
public:
    explicit DebugLog(std::ostream* pos) : _pos(pos) {}

    std::ostream* pos() const { return _pos; }
    bool isDebug() const { return _pos != nullptr; }
    std::ostream& os() { return *_pos; }

    std::ostream* _pos;
};
