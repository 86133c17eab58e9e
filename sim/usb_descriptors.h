// The standard descriptors the simulated EZ-USB boards present from power-up:
// one configuration (value 1) with interface 0 in alternate setting 0 (no
// endpoints) and alternate setting 1 with six bulk endpoints. In that order
// the endpoints are the pipes 0 to 5 of the host: 2 and 3 carry channels 0 and
// 1 to the board, 4 and 5 carry them back; 0 and 1 are not used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KVdepSim100 {

const uint8_t epUnusedOut = 0x01;  // pipe 0
const uint8_t epUnusedIn = 0x81;   // pipe 1
const uint8_t epDown0 = 0x02;      // pipe 2: channel 0, host to board
const uint8_t epDown1 = 0x04;      // pipe 3: channel 1, host to board
const uint8_t epUp0 = 0x86;        // pipe 4: channel 0, board to host
const uint8_t epUp1 = 0x88;        // pipe 5: channel 1, board to host

const uint8_t bConfigValue = 1;
const uint8_t bInterface = 0;
const uint8_t bAltBoard = 1;       // the alternate setting with the board's endpoints

struct EndpointDesc {
    uint8_t _bAddress;
    uint8_t _bAttributes;  // 2: bulk
    uint16_t _cbMaxPacket;
    uint8_t _bInterval;
};

// The six endpoints of alternate setting 1, in pipe order.
std::vector<EndpointDesc> boardEndpoints();

// 18 bytes; string indexes 1 (maker), 2 (product), 3 (serial number).
std::vector<uint8_t> deviceDescriptorBytes(uint16_t uVid, uint16_t uPid, uint16_t uRelease);

// The whole configuration descriptor (wTotalLength long). Tests of the host's
// checks build variants: other endpoint lists, or no alternate setting 1.
std::vector<uint8_t> configurationDescriptorBytes(const std::vector<EndpointDesc>& mpepAlt1, bool fAlt1 = true);

}  // namespace KVdepSim100
