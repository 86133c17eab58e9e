// The protocol object, the board initializer of the vaq channel and the
// console poll.
#include "vaq.h"

#include <conio.h>

namespace KVdepVaq100 {

static const char szSrc[] = "vaq";

// Built before the library's ordinary static objects, which may use it.
__attribute__((init_priority(1000))) Vaq_vaq_Proto theVaq_vaq_Proto;

VaqLocalTaskInitializer::VaqLocalTaskInitializer(const char* szDevice) : _puc(nullptr), _pap(nullptr)
{
    _puc = new ChanDevio(&theVaq_vaq_Proto, szDevice, "0");
    if (!_puc->isGood()) {
        setFailed(szSrc, 227, static_cast<const Failables*>(_puc));
        return;
    }
    _pap = new VaqTaskPlex(_puc, _puc);
    if (_pap->callVaqOpen().isFail()) {
        setFailed("VaqPlex open failed", 0, static_cast<const Failables*>(_pap));
        delete _pap;
        _pap = nullptr;
    }
}

VaqLocalTaskInitializer::~VaqLocalTaskInitializer()
{
    delete _pap;
    delete _puc;
}

int kbhit()
{
    return _kbhit();
}

}  // namespace KVdepVaq100
