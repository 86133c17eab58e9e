// The qir card module: the time-interval-counter board HIX-5316 with one
// protocol driver, qir, on channels 0 and 1. The tables are constant data;
// the driver descriptor's protocol is null until the construct hook has run.
#pragma once

#include "qircexport.h"
#include "yekad.h"

extern "C" {

QIRC_API extern const YekMod ykQir;
QIRC_API extern const YekAdaptUsb adUsbQir;
// The module's adapters, ended by null.
QIRC_API extern const YekAdapt* const mppadQir[];
// Builds the qir protocol object in the module's static storage and enters
// it in the driver descriptor; a second call builds it anew in place.
QIRC_API void ctYkQir();

}  // extern "C"
