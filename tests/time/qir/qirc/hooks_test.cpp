// The construct hooks, in a program of their own: nothing may have run them
// before the first test.
#include "qirc.h"
#include "sioc.h"
#include "yek_c.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ConstructHook, TablesAreReadyBeforeTheHookAndTheHookEntersTheProtocol)
{
    struct Case {
        const YekMod* pum;
        const char* szName;
        size_t cchSig;
    } cases[] = {{&ykQir, "qir", 390}, {&ykSio, "sio", 125}};
    for (const Case& c : cases) {
        const YekDriverDesc* pdd = YekMod_getDriverDesc(c.pum, 0);
        ASSERT_NE(pdd, nullptr);
        // Constant data: the descriptor is complete without any constructor.
        EXPECT_EQ(pdd->_cChan, 2u);
        EXPECT_EQ(pdd->_pup, nullptr) << c.szName;

        c.pum->_pFct();
        ASSERT_NE(pdd->_pup, nullptr);
        const KVdepYek100::YekProto* pupFirst = pdd->_pup;
        EXPECT_STREQ(pdd->_pup->szName(), c.szName);
        EXPECT_EQ(std::strlen(pdd->_pup->szProto()), c.cchSig);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pdd->_pup) % alignof(void*), 0u);

        // Again: the same storage, built anew.
        c.pum->_pFct();
        EXPECT_EQ(pdd->_pup, pupFirst);
        EXPECT_STREQ(YekProto_szName(pdd->_pup), c.szName);
    }
}

}  // namespace
