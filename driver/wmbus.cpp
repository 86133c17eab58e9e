// The PCI board as far as this build has it: a board whose construction
// fails, so that AddDevice refuses the device cleanly ("Card construction
// failed") and nothing of it stays allocated.
#include "wmbus.h"

#include <new>

#include "wmcard.h"

static const char szSrc[] = "wmbus";

namespace {

class CardBus : public Card {
public:
    CardBus(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo) : Card(pwm, pci, pdo)
    {
        setFailed(szSrc, __LINE__);
    }
    Chan* open(ChanIter*) override { return nullptr; }
    void close(Chan*) override {}
    int print(char* pch, long cch) override
    {
        if (cch > 0)
            pch[0] = 0;
        return 0;
    }
    NTSTATUS pnpStartDevice(PDEVICE_OBJECT, PIRP) override { return STATUS_NOT_SUPPORTED; }
    NTSTATUS pnpStopDevice(PDEVICE_OBJECT, PIRP) override { return STATUS_SUCCESS; }
};

}  // namespace

ULONG cbCardBus()
{
    return sizeof(CardBus);
}

Card* newCardBus(void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
{
    return new (pvExtension) CardBus(pwm, pci, pdo);
}

VOID dpcForIsr(PKDPC, PDEVICE_OBJECT, PIRP, PVOID)
{
}
