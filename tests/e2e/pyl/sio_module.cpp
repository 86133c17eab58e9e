// The card module of a driver module built for the digital-I/O tests: sio
// (the module as delivered carries qir). It is compiled into that module.
#include "sioc.h"
#include "wm.h"

const YekMod* wmCarriedModule()
{
    return &ykSio;
}
