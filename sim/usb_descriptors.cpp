#include "sim/usb_descriptors.h"

namespace KVdepSim100 {

namespace {

void put16(std::vector<uint8_t>& mpb, uint16_t u)
{
    mpb.push_back(static_cast<uint8_t>(u));
    mpb.push_back(static_cast<uint8_t>(u >> 8));
}

void putInterface(std::vector<uint8_t>& mpb, uint8_t bAlt, size_t cEndpoints)
{
    const uint8_t mpbIf[] = {9, 4, bInterface, bAlt, static_cast<uint8_t>(cEndpoints), 0xFF, 0xFF, 0xFF, 0};
    mpb.insert(mpb.end(), mpbIf, mpbIf + sizeof mpbIf);
}

}  // namespace

std::vector<EndpointDesc> boardEndpoints()
{
    std::vector<EndpointDesc> mpep;
    for (uint8_t b : {epUnusedOut, epUnusedIn, epDown0, epDown1, epUp0, epUp1})
        mpep.push_back(EndpointDesc{b, 2, 512, 0});
    return mpep;
}

std::vector<uint8_t> deviceDescriptorBytes(uint16_t uVid, uint16_t uPid, uint16_t uRelease)
{
    std::vector<uint8_t> mpb = {18, 1};
    put16(mpb, 0x0200);            // USB 2.0
    mpb.insert(mpb.end(), {0xFF, 0xFF, 0xFF, 64});  // vendor class, control packets of 64
    put16(mpb, uVid);
    put16(mpb, uPid);
    put16(mpb, uRelease);
    mpb.insert(mpb.end(), {1, 2, 3, 1});  // string indexes, one configuration
    return mpb;
}

std::vector<uint8_t> configurationDescriptorBytes(const std::vector<EndpointDesc>& mpepAlt1, bool fAlt1)
{
    std::vector<uint8_t> mpb = {9, 2, 0, 0, 1, bConfigValue, 0, 0x80, 50};  // bus powered, 100 mA
    putInterface(mpb, 0, 0);
    if (fAlt1) {
        putInterface(mpb, bAltBoard, mpepAlt1.size());
        for (const EndpointDesc& ep : mpepAlt1) {
            mpb.insert(mpb.end(), {7, 5, ep._bAddress, ep._bAttributes});
            put16(mpb, ep._cbMaxPacket);
            mpb.push_back(ep._bInterval);
        }
    }
    mpb[2] = static_cast<uint8_t>(mpb.size());
    mpb[3] = static_cast<uint8_t>(mpb.size() >> 8);
    return mpb;
}

}  // namespace KVdepSim100
