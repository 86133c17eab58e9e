// An application of the eight C++ libraries, built against their import
// libraries as an application is: from each library an exported function,
// class or object, data and classes with virtual functions among them. Run
// with no board attached, its one line that reaches the board, the last,
// begins "board: " and shows the failure.
#ifdef KV_BUILT_IN
#error "an application imports the libraries' API: it is built without KV_BUILT_IN"
#endif

#include <iostream>

#include "dap.h"
#include "failable.h"
#include "moru.h"
#include "qirc.h"
#include "tico.h"
#include "vaq.h"
#include "yek.h"
#include "yek_c.h"
#include "yek_call.h"
#include "yekpro_vaq.h"

int main()
{
    // libfexRol: a status in its printed form.
    std::cout << Failable("demo", 1) << '\n';
    // libyekc: a sum of times; a protocol's name through a flat entry point.
    std::cout << KVdepYek100::Time(1, 500000000) + KVdepYek100::Time(0, 400000000) << '\n';
    // libvaq: the device-access protocol object.
    std::cout << YekProto_szName(&KVdepVaq100::theVaq_vaq_Proto) << '\n';
    // libvaqc: a typed view.
    KVdepYek100::YekControl* puc = nullptr;
    std::cout << (KVdepVaq100::pVaqResp(puc) == nullptr) << '\n';
    // libqirc: the qir card module's table and its construct hook.
    ctYkQir();
    std::cout << ykQir._cChan << '\n';
    // libyek: a call object from the library's factory table.
    KVdepYek100::Factory* pf = KVdepYek100::fact.createFactory("kernel:\\\\.\\ZEDOZ_EVU_0");
    std::cout << (pf != nullptr) << '\n';
    delete pf;
    // libmoru: the time core and a measurement mode.
    KVdepMoru100::ModeAvg ma(10, 100, KVdepMoru100::ti(0.5));
    ma.init(&KVdepMoru100::tc2n5);
    std::cout << ma.cMeas() << ' ' << static_cast<const Failable&>(ma) << '\n';
    // libpyl: the digital-I/O initializer, which opens the board, with its status.
    KVdepDev100::PylLocalInitializer ini("\\\\.\\ZEDOZ_EVU_0");
    std::cout << "board: " << static_cast<const Failables&>(ini) << '\n';
    return 0;
}
