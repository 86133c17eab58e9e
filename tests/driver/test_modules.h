// Card modules for the driver tests, in the form of the shipped ones: one
// with two protocol drivers, one wider than a USB board's tables, one with
// adapters whose firmware images test the download's checks, and one with a
// PCI adapter.
#pragma once

#include "ezusb_fw.h"
#include "yekad.h"

namespace drvtest {

// Drivers qir and vaq, two channels each; one USB adapter with the qir
// operating image for both.
extern const YekMod ykTwo;
// qir with 3 channels, then four more drivers ta1 to ta4; one USB adapter
// with an operating image for every driver index.
extern const YekMod ykWide;
// qir, two channels; adapters by "CardType": 0 an idle image that is only the
// end record, 1 an operating record of 17 bytes, 2 an operating record that
// runs past 0xFFFF, 3 an operating record of 0 bytes, 4 no operating image.
extern const YekMod ykImages;
// qir, two channels; one PCI adapter.
extern const YekMod ykPci;

// The records of the operating image of adapter 3 of ykImages.
extern const ezusb_hex_record mphrZeroLength[];

}  // namespace drvtest
