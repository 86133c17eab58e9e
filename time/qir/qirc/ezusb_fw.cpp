// The firmware images. Their records are generated (see tools/fwgen) into one
// file per image, one record initializer a line.
#include "ezusb_fw.h"

#define RECORDS_OF(image, count) \
    static_assert(sizeof(image) / sizeof(ezusb_hex_record) == (count), #image " has its record count")

const ezusb_hex_record qir_firmware[] = {
#include "firmware/qir_firmware.inc"
};
RECORDS_OF(qir_firmware, cRecQirFirmware);

const ezusb_hex_record sio_firmware[] = {
#include "firmware/sio_firmware.inc"
};
RECORDS_OF(sio_firmware, cRecSioFirmware);

const ezusb_hex_record wex_firmware[] = {
#include "firmware/wex_firmware.inc"
};
RECORDS_OF(wex_firmware, cRecWexFirmware);

const ezusb_hex_record gid_firmware[] = {
#include "firmware/gid_firmware.inc"
};
RECORDS_OF(gid_firmware, cRecGidFirmware);

const ezusb_hex_record gdc_firmware[] = {
#include "firmware/gdc_firmware.inc"
};
RECORDS_OF(gdc_firmware, cRecGdcFirmware);
