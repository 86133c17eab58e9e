// The simulated boards' own reading of the wire form of the board protocols:
// a type byte, then each field big-endian in the width the protocol gives it.
// These tables are written apart from the system's protocol classes on
// purpose, so that a marshalling fault of the system shows up at the board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KVdepSim100 {

// The protocol a board program speaks on both channels; each includes the two
// device-access messages (types 4 and 6).
enum class WireProto { Qir, Sio };

struct WireField {
    const char* _szName;
    int _cb;  // 1, 2 or 4 bytes on the wire
};

struct WireMsgDesc {
    int _eType;
    const char* _szName;
    std::vector<WireField> _mpField;
    bool _fRequest;  // sent to the board (false: an answer the board sends)

    size_t cbWire() const;  // type byte included
    int iField(const char* szName) const;  // -1 when the message has no such field
};

// One message: its description and its field values in wire order.
struct WireMsg {
    const WireMsgDesc* _pdesc = nullptr;
    std::vector<uint32_t> _mpu;

    int eType() const { return _pdesc ? _pdesc->_eType : -1; }
    bool has(const char* szField) const;
    uint32_t get(const char* szField) const;  // 0 for a field the message lacks
    WireMsg& set(const char* szField, uint32_t u);  // ignored for a field it lacks
};

enum class WireError { None, Empty, UnknownType, Short, Long };

struct WireDecode {
    WireError _eErr = WireError::None;
    WireMsg _msg;  // valid only without error
};

const WireMsgDesc* wireDesc(WireProto eProto, int eType);
const std::vector<WireMsgDesc>& wireTable(WireProto eProto);
const char* wireErrorText(WireError eErr);

// A message of the type with every field 0; null description for an unknown type.
WireMsg wireMsg(WireProto eProto, int eType);

// The bytes must hold exactly one control of the protocol.
WireDecode wireDecode(WireProto eProto, const uint8_t* pb, size_t cb);
inline WireDecode wireDecode(WireProto eProto, const std::vector<uint8_t>& mpb)
{
    return wireDecode(eProto, mpb.data(), mpb.size());
}

// Type byte and fields; each field keeps the low bytes of its value.
std::vector<uint8_t> wireEncode(const WireMsg& msg);

// Readable form for logs and test messages: "QirWrite iPort=5 iVal=4660".
std::string wireText(const WireMsg& msg);

}  // namespace KVdepSim100
