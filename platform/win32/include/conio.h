// Console keyboard poll of the runtime library.
#pragma once

#include "kv_crt.h"
