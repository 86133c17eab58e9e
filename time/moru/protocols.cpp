// The library's protocol object. The stream set-up of this unit comes first,
// so the object may be printed from the moment it exists.
#include <iostream>

#include "yekpro_moru.h"

namespace KVdepMoru100 {

Moru_moru_Proto theMoru_moru_Proto;

}  // namespace KVdepMoru100
