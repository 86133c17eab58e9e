// The driver's eight card slots: each board's fixed index, kept for its
// device's driver key from the first AddDevice until the image is unloaded.
#pragma once

#include <wdm.h>

#include "yekad.h"

const int MAX_CARD = 8;
const size_t cchWmDriverKey = 160;

struct CardSlot {
    WCHAR _wszKey[cchWmDriverKey];  // driver key of the board's device; empty: free
    const YekAdapt* _pad;           // adapter chosen by "CardType"; null: free
};

// The slots, indexes 0 to MAX_CARD - 1.
CardSlot* wmCardSlots();
// All slots free again, as at image load.
void wmClearCardSlots();
