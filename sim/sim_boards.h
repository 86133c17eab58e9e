// The simulated boards of the two card modules, ready to plug into the USB bus
// stand-in. Identity bytes: byte 0 free (0), bytes 1 and 2 fixed (b4 04),
// bytes 3 and 4 the model code low byte first, bytes 5 and 6 a serial number
// low byte first. The HIX-5316 with serial 0 thus answers 00 b4 04 16 53 00 00:
// model 0x5316, configuration file stem 04b453160000.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/ezusb_board.h"

namespace KVdepSim100 {

const uint16_t modelHix5316 = 0x5316;
const uint16_t modelPyl2817 = 0x2817;
const uint16_t modelVuz2958 = 0x2958;

std::vector<uint8_t> boardIdentity(uint16_t uModel, uint16_t uSerial = 0);

// A second board of the same kind gets another serial number, hence other
// identity bytes.
std::unique_ptr<EzUsbBoard> makeHix5316(uint16_t uSerial = 0);
std::unique_ptr<EzUsbBoard> makePyl2817(uint16_t uSerial = 0);
std::unique_ptr<EzUsbBoard> makeVuz2958(uint16_t uSerial = 0);

}  // namespace KVdepSim100
