// EZ-USB firmware images as the card tables hold them: arrays of address,
// count and data records, in ascending address order from 0, ended by one
// record at address 0xFFFF with count 0 (which counts as an element). A
// download writes each record's _cData bytes at _addr until the end record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qircexport.h"

// One record, laid out as in memory (host byte order).
struct ezusb_hex_record {
    uint16_t _addr;   // controller address of the first data byte
    uint8_t _cData;   // valid data bytes: 1 to 16, 0 only in the end record
    uint8_t _data[16];  // bytes beyond _cData are 0
    uint8_t filler;   // 0
};

static_assert(sizeof(ezusb_hex_record) == 20, "a firmware record is 20 bytes");
static_assert(offsetof(ezusb_hex_record, _addr) == 0 && offsetof(ezusb_hex_record, _cData) == 2, "record layout");
static_assert(offsetof(ezusb_hex_record, _data) == 3 && offsetof(ezusb_hex_record, filler) == 19, "record layout");

const uint16_t addrEzusbEnd = 0xFFFF;
const size_t cbEzusbRecordData = 16;

// Records of each image, the end record included.
const size_t cRecQirFirmware = 791;
const size_t cRecSioFirmware = 615;
const size_t cRecWexFirmware = 670;
const size_t cRecGidFirmware = 115;
const size_t cRecGdcFirmware = 114;

extern "C" {

// Operating programs of the HIX-5316, the PYL-2817 and the VUZ-2958.
QIRC_API extern const ezusb_hex_record qir_firmware[];
QIRC_API extern const ezusb_hex_record sio_firmware[];
QIRC_API extern const ezusb_hex_record wex_firmware[];
// The idle program and the program of a disconnected board, shared by both modules.
QIRC_API extern const ezusb_hex_record gid_firmware[];
QIRC_API extern const ezusb_hex_record gdc_firmware[];

}  // extern "C"
