// The board multiplexer of the digital-I/O board: an in-process dino server
// with the single port "dinoUser" on the board's sio device channel. An open
// is answered from the board's port map; a sync becomes one sio write and one
// sio read of port 0 and is answered with the input image.
#pragma once

#include "dinos.h"
#include "failable.h"
#include "pylexport.h"
#include "sio.h"
#include "yek_portmux.h"
#include "yekpro_dino.h"

namespace KVdepDev100 {

using KVdepDino100::MpSgBi;
using KVdepYek100::Channel;
using KVdepYek100::Pmd;
using KVdepYek100::PortMux;
using KVdepYek100::Task;
typedef KVdepYek100::TaskFunc::Func Func;

// The protocol object of this unit (each unit that includes the header has
// its own; channels are compared by signature only).
static KVdepDino100::Dino_dino_Proto theDino_dino_Proto;

// The model code of the PYL-2817.
const int eModelPyl2817 = 0x2817;

// The port map of the PYL-2817: inputs I01-I12 in image bytes 0 and 3,
// outputs O01-O12 in bytes 1 and 2.
PYL_API MpSgBi mpSgBi2817();

class PYL_API PylMux : public PortMux, public Failables {
public:
    static constexpr int ceDinoUser = 0;
    static constexpr int ccPortTypes = 1;
    // The eErr of a sync answer whose board exchange failed.
    static constexpr uint32_t eErrBoard = 1;

    static const PortClass mpPortClass[ccPortTypes + 1];

    // A sync: the output image (bytes 1 and 2) written to sio port 0, port 0
    // read, and the value answered as the input image (low byte in byte 0,
    // high byte in byte 3). A board step that failed is answered with
    // eErrBoard and no image. A sync whose client has sent its next request
    // meanwhile (it gave this one up) ends without an answer, and without
    // asking the board more, when the board has answered what it asked; the
    // multiplexer replaces one that waits for nothing from the board.
    class PYL_API DinoSyncServerFunc : public Func {
    public:
        explicit DinoSyncServerFunc(const MpSgBi&) : _fBoardFailed(false), _iErrBoard(0) {}
        int func(int e) override;
        ~DinoSyncServerFunc() override;

        static int cnClient() { return 0; }
        static int cnSio() { return 1; }

        bool _fBoardFailed;
        int32_t _iErrBoard;

    private:
        void noteBoardStep(const Failable* pfa);
        bool isSuperseded() const;
    };

    // Attaches the sio device channel (which stays the caller's).
    explicit PylMux(Channel* pucSio);
    // Disposes of a request still in progress; detaches the device channel.
    ~PylMux() override;

    // A dino client sends its next request only once done with the last:
    // a request on the port replaces those it comes after.
    void sigDown(int iCtx, Channel* puc, int hChan) override;
    Task* createTask(Channel* pcn, const PortClass* pPc, Pmd pmd, PortMux* ptm, int h) override;
    void deleteTask(const PortClass* pPc, Task* pta) override;

    // Named by the interface; a request is always served from its first
    // message, so there is nothing to send on request.
    void sendRequest() {}
    void sendResponse(int) {}

    const MpSgBi mp;
    Port _mpPo[ccPortTypes];
};

}  // namespace KVdepDev100
