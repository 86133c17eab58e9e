// Which client passes which driver's protocol check: a channel accepts a
// client whose signature is a prefix of its own.
#include "yekpro_qir.h"
#include "yekpro_sio.h"
#include "yekpro_vaq.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SignaturePrefix, BoardProtocolsServeVaqClientsButNotEachOther)
{
    KVdepVaq100::Vaq_vaq_Proto vaq;
    KVdepQir100::Qir_qir_Proto qir;
    KVdepSio100::Sio_sio_Proto sio;
    // Left operand is the server.
    EXPECT_TRUE(qir == vaq);
    EXPECT_TRUE(sio == vaq);
    EXPECT_FALSE(vaq == qir);
    EXPECT_FALSE(vaq == sio);
    EXPECT_FALSE(qir == sio);
    EXPECT_FALSE(sio == qir);
    EXPECT_TRUE(qir == qir);
    EXPECT_TRUE(sio == sio);

    // The two extensions part right behind the vaq signature.
    const size_t cchVaq = std::strlen(vaq.szProto());
    size_t cchSame = 0;
    while (qir.szProto()[cchSame] == sio.szProto()[cchSame])
        ++cchSame;
    EXPECT_GE(cchSame, cchVaq);
    EXPECT_LT(cchSame, cchVaq + 4);
}

}  // namespace
