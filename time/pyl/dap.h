// The digital-I/O initializer: opens a PYL-2817's sio channel 0, checks the
// board's model and serves the board in-process: the board multiplexer on
// the device channel, joined to the client side by an in-process channel
// pair on its "dinoUser" port.
//
//   KVdepDev100::PylLocalInitializer ini("\\\\.\\ZEDOZ_EVU_0");
//   KVdepYek100::RunIo rio;
//   rio.add(ini.puc());                          // the server's board requests
//   KVdepDino100::DinoPlexSync dps(&rio);
//   ini.initDinoUser("board", &dps);
//   BitHandle bh = dps.callOpen("board/O07");
//   dps.setBit(bh);
//   dps.callSync();
//
// The client multiplexer must go before the initializer.
#pragma once

#include <string>

#include "dim.h"
#include "dino.h"
#include "failable.h"
#include "pylexport.h"
#include "yek_devio.h"
#include "yek_user.h"

namespace KVdepDev100 {

using KVdepYek100::YekChanDevio;

class PYL_API PylLocalInitializer : public Failables {
public:
    // Opens "<szDevice>\sio\0"; the outcome is the initializer's status.
    explicit PylLocalInitializer(const char* szDevice);
    // A device channel the caller opened and hands over: owned from now on.
    explicit PylLocalInitializer(YekChanDevio* puc);
    // Closes and deletes the pair, deletes the multiplexer, then the channel.
    ~PylLocalInitializer();

    PylLocalInitializer(const PylLocalInitializer&) = delete;
    PylLocalInitializer& operator=(const PylLocalInitializer&) = delete;

    // Checks the board and builds the server on the good channel puc.
    void init(YekChanDevio* puc);

    // Registers the client end of the pair in pdp under sgName: its channel
    // index there, or -1 when the initializer is not good or the end is
    // registered already.
    int initDinoUser(const std::string& sgName, KVdepDino100::DinoPlex* pdp);

    // The device channel: whatever pumps the client side pumps it too.
    YekChanDevio* puc() const { return _puc; }
    PylMux* ptm() const { return _ptm; }

    PylMux* _ptm;
    YekChanDevio* _puc;
    KVdepYek100::LocalChannelPair _lcDino;
};

}  // namespace KVdepDev100
