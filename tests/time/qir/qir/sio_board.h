// The in-process digital-I/O board for the sio client's and the digital-I/O
// server's tests (on the rig of inproc_board.h): a value per port, a log of
// the writes and syncs, port 0 answering the input lines that the test sets.
// It keeps what the wire would carry: the low 8 bits of a port and the low
// 16 bits of a value written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inproc_board.h"
#include "yekpro_sio.h"

namespace sio_test {

using vaq_test::BoardReply;
using vaq_test::BoardRequest;

struct PortWrite {
    uint32_t uPort;
    uint32_t uVal;
    bool operator==(const PortWrite& o) const { return uPort == o.uPort && uVal == o.uVal; }
};

class SioInprocBoard : public vaq_test::InprocBoard {
public:
    // The identity of the PYL-2817 with serial number 0.
    static const std::string sgPyl2817;

    SioInprocBoard() { setIdentity(sgPyl2817); }

    // What a read of port 0 answers.
    void setInputs(uint16_t u) { _uInputs = u; }
    // The eErr of every SioResp.
    void setError(uint32_t eErr) { _eErr = eErr; }
    uint32_t port(int iPort) const { return _mpuPort[iPort & 0xFF]; }
    const std::vector<PortWrite>& writes() const { return _mpWrite; }
    const std::vector<uint32_t>& syncs() const { return _mpSync; }

protected:
    std::vector<BoardReply> serve(const BoardRequest& rq) override;

private:
    uint16_t _uInputs = 0;
    uint32_t _eErr = 0;
    uint32_t _mpuPort[256] = {};
    std::vector<PortWrite> _mpWrite;
    std::vector<uint32_t> _mpSync;
};

}  // namespace sio_test
