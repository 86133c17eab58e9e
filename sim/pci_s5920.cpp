// The S5920 bridge board: operation registers, the add-on registers behind
// them and the interrupt line.
#include "sim/pci_s5920.h"

namespace KVdepSim100 {

S5920Board::S5920Board(uint16_t uSerial)
    : _mpbId{{'K', 'V', 0x20, 0x59, static_cast<uint8_t>(uSerial & 0xFF), static_cast<uint8_t>(uSerial >> 8), 1, 0}}
{
}

void S5920Board::setLogCapacity(std::size_t n)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _mpOpWrites.setCapacity(n);
}

void S5920Board::attach(std::function<void(bool)> line)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _line = std::move(line);
    if (_line)
        _line(_fLine);
}

uint32_t S5920Board::ioRead(int iBar, uint32_t uOffset, uint8_t cbSize)
{
    std::lock_guard<std::mutex> lk(_mtx);
    uint32_t u = 0;
    for (uint8_t i = 0; i < cbSize && i < 4; ++i)
        u |= uint32_t(readByte(iBar, uOffset + i)) << (8 * i);
    return u;
}

void S5920Board::ioWrite(int iBar, uint32_t uOffset, uint8_t cbSize, uint32_t uValue)
{
    std::lock_guard<std::mutex> lk(_mtx);
    for (uint8_t i = 0; i < cbSize && i < 4; ++i)
        writeByte(iBar, uOffset + i, static_cast<uint8_t>(uValue >> (8 * i)));
    updateLine();
}

uint8_t S5920Board::readByte(int iBar, uint32_t uOffset) const
{
    if (iBar == iBarOperation)
        return uOffset < cbOperation ? _mpbOp[uOffset] : 0xFF;
    if (iBar != iBarAddOn || uOffset >= cbAddOn || !(_mpbOp[offBusConfig] & fBusOpen))
        return 0xFF;
    if (uOffset < offIndex)
        return _mpbId[uOffset];
    switch (uOffset) {
    case offIndex:
        return _uIndex;
    case offStatus:
        return _uStatus;
    case offEvent:
        return _uEvent;
    case offCommand:
        return 0;
    default:
        return static_cast<uint8_t>(_uData >> (8 * (uOffset - offData)));
    }
}

void S5920Board::writeByte(int iBar, uint32_t uOffset, uint8_t b)
{
    if (iBar == iBarOperation) {
        if (uOffset < cbOperation) {
            _mpbOp[uOffset] = b;
            _mpOpWrites.push_back({uOffset, b});
        }
        return;
    }
    if (iBar != iBarAddOn || uOffset >= cbAddOn || !(_mpbOp[offBusConfig] & fBusOpen))
        return;
    switch (uOffset) {
    case offIndex:
        _uIndex = b % cRegs;
        break;
    case offCommand:
        if (b == cmdStore) {
            _mpuReg[_uIndex] = _uData;
            ++_cStores;
        } else if (b == cmdLoad) {
            _uData = _mpuReg[_uIndex];
            _uStatus |= fStatReadDone;
            ++_cLoads;
        }
        break;
    case offStatus:
        _uStatus &= static_cast<uint8_t>(~b);
        break;
    default:
        if (uOffset >= offData) {
            unsigned sh = 8 * (uOffset - offData);
            _uData = (_uData & ~(0xFFu << sh)) | (uint32_t(b) << sh);
        }
        break;
    }
}

void S5920Board::updateLine()
{
    bool f = (_uStatus & (fStatReadDone | fStatEvent)) && (_mpbOp[offIntControl] & fAddOnIntEnable);
    if (f == _fLine)
        return;
    _fLine = f;
    if (_line)
        _line(f);
}

void S5920Board::raiseEvent(uint8_t uCode)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _uEvent = uCode;
    _uStatus |= fStatEvent;
    updateLine();
}

std::array<uint8_t, 8> S5920Board::identity() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpbId;
}

uint32_t S5920Board::reg(int i) const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpuReg.at(static_cast<size_t>(i));
}

void S5920Board::setReg(int i, uint32_t u)
{
    std::lock_guard<std::mutex> lk(_mtx);
    _mpuReg.at(static_cast<size_t>(i)) = u;
}

uint8_t S5920Board::status() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _uStatus;
}

bool S5920Board::isBusOpen() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return (_mpbOp[offBusConfig] & fBusOpen) != 0;
}

bool S5920Board::isInterruptEnabled() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return (_mpbOp[offIntControl] & fAddOnIntEnable) != 0;
}

bool S5920Board::isLineAsserted() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _fLine;
}

std::vector<std::pair<uint32_t, uint8_t>> S5920Board::operationWrites() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _mpOpWrites.toVector();
}

unsigned S5920Board::cStores() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _cStores;
}

unsigned S5920Board::cLoads() const
{
    std::lock_guard<std::mutex> lk(_mtx);
    return _cLoads;
}

}  // namespace KVdepSim100
