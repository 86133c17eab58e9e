// The sio card module: the boards PYL-2817 (digital I/O) and VUZ-2958 with
// one protocol driver, sio, on channels 0 and 1. The tables are constant
// data; the driver descriptor's protocol is null until the construct hook has run.
#pragma once

#include "qircexport.h"
#include "yekad.h"

extern "C" {

QIRC_API extern const YekMod ykSio;
QIRC_API extern const YekAdaptUsb adUsbSio;
QIRC_API extern const YekAdaptUsb adUsbWex;
// The module's adapters, ended by null.
QIRC_API extern const YekAdapt* const mppadSio[];
// Builds the sio protocol object in the module's static storage and enters
// it in the driver descriptor; a second call builds it anew in place.
QIRC_API void ctYkSio();

}  // extern "C"
