// The flat binding of the message core for a host that runs boards: the
// host's callback table, the environment that forwards to it, and the entry
// points with C linkage over protocols, boards, drivers, host channels and
// message buffers. Each entry point is a thin call of the operation it names.
#pragma once

#include <cstddef>

#include "yek_driver.h"
#include "yekad.h"

// Host callbacks, in this order: the absolute time of the host's next clock
// tick, up messages waiting on the host channel with a handle, and room for
// down messages on it.
struct YekEnvC {
    void (*_pFtiNextTick)(YekTimespec* pts);
    void (*_pFsigGet)(int iCtx, void* h);
    void (*_pFsigPut)(int iCtx, void* h);
};

namespace KVdepYek100 {

// A host environment made of the callback table (not owned). A missing table
// or callback does nothing; the host time then stays zero.
class YEKC_API YekEnvRed : public YekEnv {
public:
    explicit YekEnvRed(const YekEnvC* pueC) : _pueC(pueC) {}

    // The host's next tick plus ti.
    Time tiNext(const Time& ti) override;
    void sigGet(int iCtx, YekChanKern* pcn) override;
    void sigPut(int iCtx, YekChanKern* pcn) override;

    const YekEnvC* _pueC;
};

}  // namespace KVdepYek100

extern "C" {

// Protocols.
YEKC_API const char* YekProto_szProto(const KVdepYek100::YekProto* pup);
YEKC_API const char* YekProto_szName(const KVdepYek100::YekProto* pup);
// 1 when szClient is a prefix of the server's signature, else 0. The length
// does not enter the test: the caller guarantees the terminating zero.
YEKC_API int YekProto_match(const KVdepYek100::YekProto* pupServer, const char* szClient, size_t cch);

// Card modules: descriptor i, null when i is not below _cDriver.
YEKC_API const YekDriverDesc* YekMod_getDriverDesc(const YekMod* pum, unsigned i);

// Boards.
YEKC_API int YekCard_timer(KVdepYek100::YekCard* pca, int iCtx, const YekTimespec* ptsNow);
YEKC_API int YekCard_interrupt(KVdepYek100::YekCard* pca, int iCtx);
YEKC_API char* YekCard_print(KVdepYek100::YekCard* pca, char* pch, int cch);
YEKC_API void YekCard_startIterDrivers(KVdepYek100::YekCard* pca, YekIter* pit);
// The next driver of the walk, null at the end.
YEKC_API KVdepYek100::YekDriver* YekCard_iterateDrivers(KVdepYek100::YekCard* pca, YekIter* pit);

// Protocol drivers.
YEKC_API const char* YekDriver_szName(KVdepYek100::YekDriver* pud);
YEKC_API char* YekDriver_print(KVdepYek100::YekDriver* pud, char* pch, int cch);
YEKC_API int YekDriver_init(KVdepYek100::YekDriver* pud);
YEKC_API void YekDriver_fini(KVdepYek100::YekDriver* pud);
YEKC_API void YekDriver_startIterChannels(KVdepYek100::YekDriver* pud, YekIter* pit);
YEKC_API KVdepYek100::YekChannel* YekDriver_iterateChannels(KVdepYek100::YekDriver* pud, YekIter* pit);

// Host channels.
YEKC_API int YekChanKern_num(KVdepYek100::YekChanKern* pcn);
#ifndef KV_KERNEL
// A host channel has no protocol of its own: the signature of the attached
// driver's protocol for the channel, null when there is none.
YEKC_API const char* YekChanKern_szProto(KVdepYek100::YekChanKern* pcn);
#endif
YEKC_API void YekChanKern_setHandle(KVdepYek100::YekChanKern* pcn, void* h);
YEKC_API int YekChanKern_canput(KVdepYek100::YekChanKern* pcn);
YEKC_API int YekChanKern_canget(KVdepYek100::YekChanKern* pcn);
YEKC_API KVdepYek100::YekMsgBuf* YekChanKern_getUpBuf(KVdepYek100::YekChanKern* pcn);
YEKC_API void YekChanKern_releaseUpBuf(KVdepYek100::YekChanKern* pcn, int iCtx, KVdepYek100::YekMsgBuf* pmb);
YEKC_API KVdepYek100::YekMsgBuf* YekChanKern_allocDownBuf(KVdepYek100::YekChanKern* pcn);
YEKC_API void YekChanKern_putDownBuf(KVdepYek100::YekChanKern* pcn, int iCtx, KVdepYek100::YekMsgBuf* pmb);

// Message buffers, opaque to the host.
YEKC_API YekControlStruct* YekMsgDownBuf_pControl(KVdepYek100::YekMsgBuf* pmb);
YEKC_API char* YekMsgDownBuf_pData(KVdepYek100::YekMsgBuf* pmb);
// n bytes to read, at most the data area.
YEKC_API void YekMsgDownBuf_setDataLim(KVdepYek100::YekMsgBuf* pmb, size_t n);
YEKC_API size_t YekMsgDownBuf_sizeDataMax(KVdepYek100::YekMsgBuf* pmb);
YEKC_API YekControlStruct* YekMsgUpBuf_pControl(KVdepYek100::YekMsgBuf* pmb);
YEKC_API size_t YekMsgUpBuf_sizeControl(KVdepYek100::YekMsgBuf* pmb);
YEKC_API char* YekMsgUpBuf_pData(KVdepYek100::YekMsgBuf* pmb);
// The data bytes the driver side wrote.
YEKC_API size_t YekMsgUpBuf_sizeData(KVdepYek100::YekMsgBuf* pmb);

}  // extern "C"
