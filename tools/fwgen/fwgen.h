// Stand-in EZ-USB firmware images. The real images are product data that this
// build does not have; these keep the record format, the end record and the
// record and byte counts of the card tables, and begin with a tag record that
// names the image, so that a simulated controller can tell which program it
// was given. The same function feeds the generated table files and the
// simulated controller, so both always agree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace KVdepFw100 {

const int ccbRecordData = 16;         // data bytes a record can carry
const uint16_t addrEnd = 0xFFFF;      // address of the end record
const uint32_t cbWritable = 0x2000;   // program memory every image stays inside

// One record as the card tables hold it (the filler byte is always 0).
struct FwRecord {
    uint16_t _addr;
    uint8_t _cData;
    std::array<uint8_t, ccbRecordData> _mpbData;
};

struct FwImageInfo {
    const char* _szName;  // table name, also the file stem
    int _cRecords;        // records with the end record
    int _cbData;          // data bytes of all records
    const char* _szUse;   // what the program is for
};

// The five images, in the order the tables list them.
const std::vector<FwImageInfo>& fwImages();
// Null when no image has this name.
const FwImageInfo* fwImageInfo(const std::string& sgName);

// The records of an image, the end record included; empty for an unknown name.
// The same on every call and every machine.
std::vector<FwRecord> fwImage(const std::string& sgName);

// The 16-byte tag that the first record of an image carries.
std::array<uint8_t, ccbRecordData> fwTag(const std::string& sgName);

// The text of the image's table file: a header comment, then one record
// initializer a line.
std::string fwImageText(const std::string& sgName);

}  // namespace KVdepFw100
