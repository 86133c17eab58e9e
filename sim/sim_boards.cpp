#include "sim/sim_boards.h"

namespace KVdepSim100 {

std::vector<uint8_t> boardIdentity(uint16_t uModel, uint16_t uSerial)
{
    return {0x00,
            0xB4,
            0x04,
            static_cast<uint8_t>(uModel),
            static_cast<uint8_t>(uModel >> 8),
            static_cast<uint8_t>(uSerial),
            static_cast<uint8_t>(uSerial >> 8)};
}

std::unique_ptr<EzUsbBoard> makeHix5316(uint16_t uSerial)
{
    return std::make_unique<EzUsbBoard>("HIX-5316", modelHix5316, boardIdentity(modelHix5316, uSerial));
}

std::unique_ptr<EzUsbBoard> makePyl2817(uint16_t uSerial)
{
    return std::make_unique<EzUsbBoard>("PYL-2817", modelPyl2817, boardIdentity(modelPyl2817, uSerial));
}

std::unique_ptr<EzUsbBoard> makeVuz2958(uint16_t uSerial)
{
    return std::make_unique<EzUsbBoard>("VUZ-2958", modelVuz2958, boardIdentity(modelVuz2958, uSerial));
}

}  // namespace KVdepSim100
