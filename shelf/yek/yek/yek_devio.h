// The device channel: the user side of a channel whose transport is a channel
// of the kernel driver, reached through a device path. Every transfer is one
// synchronous control request; the get request waits until the board has
// answered, with no time-out of its own.
#pragma once

#include "kvwindows.h"
#include "yek_user.h"
#include "yekexport.h"

namespace KVdepYek100 {

class YEK_API YekChanDevio : public YekChanUser {
public:
    // Opens the driver channel and checks that its protocol begins with pup's
    // signature; the outcome is the channel's status (bad on any failure).
    YekChanDevio(const YekProto* pup, const char* szDev, const char* szChan);
    // Closes the handle when the open got one.
    ~YekChanDevio() override;

    YekChanDevio(const YekChanDevio&) = delete;
    YekChanDevio& operator=(const YekChanDevio&) = delete;

    // One put request for the up message in transfer.
    Failables& sigSendTransfer() override;
    // One get request into the armed down buffer; returns when the driver
    // has an answer from the board.
    Failables& sigRecvTransfer() override;
    // Transfers happen only when the pump calls them.
    void armSend() override {}
    void armRecv() override {}

    HANDLE h() const { return _h; }

    // Null before the open, the invalid handle value after a failed open.
    HANDLE _h;
};
typedef YekChanDevio ChanDevio;

}  // namespace KVdepYek100
