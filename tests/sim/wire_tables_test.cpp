#include "sim/wire_tables.h"

#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::Bytes;
using simtest::be32;
using simtest::cat;

TEST(WireTables, DecodesTheProtocolsWireForms)
{
    struct Case {
        WireProto eProto;
        Bytes mpb;
        std::string sgText;
    } mpcase[] = {
        {WireProto::Qir, {0x06}, "VaqInit"},
        {WireProto::Qir, {0x08, 0x23, 0x23, 0x45}, "QirWrite iPort=35 iVal=9029"},
        {WireProto::Qir, {0x07, 0xFF}, "QirRead iPort=255"},
        {WireProto::Qir, cat({{0x09}, be32(1), be32(500), be32(2), {0x01}}),
         "QirTrf tiTmoSec=1 tiTmoNsec=500 iTrans=2 fLast=1"},
        {WireProto::Qir, cat({{0x0B}, be32(0), be32(0), be32(1), {0x00}}),
         "QirCmd tiTmoSec=0 tiTmoNsec=0 iTrans=1 fLast=0"},
        {WireProto::Qir, {0x0A}, "QirFini"},
        {WireProto::Qir, cat({{0x04}, be32(1), be32(0x01020304), be32(0)}), "VaqResp eErr=1 iErr=16909060 fStat=0"},
        {WireProto::Sio, {0x09, 0x01, 0x01, 0xFF}, "SioWrite iPort=1 iVal=511"},
        {WireProto::Sio, {0x07, 0x03}, "SioSync fCtrl=3"},
        {WireProto::Sio, {0x08, 0x00}, "SioRead iPort=0"},
        {WireProto::Sio, cat({{0x0A}, be32(0), be32(0xAB)}), "SioResp eErr=0 fStat=171"},
    };
    for (const Case& c : mpcase) {
        WireDecode dec = wireDecode(c.eProto, c.mpb);
        ASSERT_EQ(dec._eErr, WireError::None) << c.sgText;
        EXPECT_EQ(wireText(dec._msg), c.sgText);
        EXPECT_EQ(wireEncode(dec._msg), c.mpb) << c.sgText;
    }
}

TEST(WireTables, RefusesWhatIsNotExactlyOneControl)
{
    struct Case {
        WireProto eProto;
        Bytes mpb;
        WireError eErr;
    } mpcase[] = {
        {WireProto::Qir, {}, WireError::Empty},
        {WireProto::Qir, {0x0F}, WireError::UnknownType},
        {WireProto::Qir, {0x02}, WireError::UnknownType},
        {WireProto::Sio, {0x0B, 0x00}, WireError::UnknownType},
        {WireProto::Sio, {0x0C}, WireError::UnknownType},  // a qir answer type on a sio board
        {WireProto::Qir, {0x08, 0x05, 0x12}, WireError::Short},
        {WireProto::Qir, {0x07}, WireError::Short},
        {WireProto::Qir, {0x06, 0x00}, WireError::Long},
        {WireProto::Sio, {0x08, 0x00, 0x00, 0x05}, WireError::Long},  // a write's form read as SioRead
    };
    for (const Case& c : mpcase)
        EXPECT_EQ(wireDecode(c.eProto, c.mpb)._eErr, c.eErr) << wireErrorText(c.eErr);
}

TEST(WireTables, EncodesLowBytesOfEachField)
{
    WireMsg msg = wireMsg(WireProto::Qir, 13);
    msg.set("eErr", 7).set("cTrans", 0x1234500).set("nope", 9);
    EXPECT_EQ(wireEncode(msg), cat({{0x0D}, be32(7), be32(0), be32(0), be32(0x1234500)}));
    EXPECT_FALSE(msg.has("nope"));
    EXPECT_EQ(msg.get("nope"), 0u);
    WireMsg msgWrite = wireMsg(WireProto::Sio, 9);
    msgWrite.set("iPort", 0x123).set("iVal", 0x12345);
    EXPECT_EQ(wireEncode(msgWrite), (Bytes{0x09, 0x23, 0x23, 0x45}));
    EXPECT_EQ(wireMsg(WireProto::Sio, 12)._pdesc, nullptr);
}

}  // namespace
