// The kernel declarations of a device driver (all of them are in wdm.h here).
#pragma once

#include "wdm.h"
