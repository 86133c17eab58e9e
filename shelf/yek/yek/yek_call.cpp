// The call base and the table of factory implementations.
#include "yek_call.h"

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_user";

FactoryImplementation* Factories::mpPff[Factories::cEntries] = {nullptr, nullptr, nullptr, nullptr};

YekCall::~YekCall() = default;

Failables& YekCall::xchMsg(const YekControl* pucd, const YekData* pudd, YekControlBuf* pucu, YekData* pudu)
{
    if (putMsg(pucd, pudd).isFail())
        return *this;
    return getMsg(pucu, pudu);
}

Factory::~Factory() = default;

FactoryImplementation::~FactoryImplementation()
{
    // A table entry must not outlive its implementation.
    Factories().unregisterFactoryImplementation(this);
}

void Factories::registerFactoryImplementation(FactoryImplementation* pfi)
{
    for (int i = 0; i < cEntries - 1; ++i) {
        if (!mpPff[i]) {
            mpPff[i] = pfi;
            return;
        }
    }
    FEX_ASSERT(0, "0", szSrc, 264);
}

void Factories::unregisterFactoryImplementation(FactoryImplementation* pfi)
{
    for (int i = 0; i < cEntries - 1; ++i) {
        if (mpPff[i] != pfi)
            continue;
        for (int k = i; k < cEntries - 1; ++k)
            mpPff[k] = mpPff[k + 1];
        return;
    }
}

Factory* Factories::createFactory(const char* szArg)
{
    for (int i = 0; mpPff[i]; ++i) {
        if (Factory* pf = mpPff[i]->createFactory(szField(szArg, 0), szField(szArg, 1)))
            return pf;
    }
    return nullptr;
}

const char* szField(const char* sz, int i)
{
    if (!sz)
        return i == 0 ? nullptr : "";
    if (i == 0)
        return sz;
    if (i < 0)
        return "";
    for (const char* pch = sz; *pch; ++pch) {
        // A colon at the very end of the text does not count.
        if (*pch == ':' && pch[1] != '\0' && --i == 0)
            return pch + 1;
    }
    return "";
}

}  // namespace KVdepYek100
