// The card module the driver carries.
#include "qirc.h"
#include "wm.h"

const YekMod* wmCarriedModule()
{
    return &ykQir;
}
