#include "yek.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace KVdepYek100;

namespace {

TEST(Proto, MatchIsAPrefixTest)
{
    struct Case {
        const char* szServer;
        const char* szClient;
        bool f;
    } cases[] = {
        {"abc", "ab", true},  {"ab", "abc", false}, {"abc", "", true},    {"", "", true},
        {"abd", "abc", false}, {"abc", "abc", true}, {"", "a", false},
        {nullptr, "a", false}, {"a", nullptr, false}, {nullptr, nullptr, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(YekProto::match(c.szServer, c.szClient), c.f)
            << (c.szServer ? c.szServer : "(null)") << " / " << (c.szClient ? c.szClient : "(null)");
}

// Two local protocols, one extending the other.
const char szBase[] = "(//)(/Int4:u_int/)";
const char szExt[] = "(//)(/Int4:u_int/)(/Int1:bool/)";

TEST(Proto, EqualityIsAsymmetric)
{
    YekProto base(szBase, "bas"), ext(szExt, "ext"), baseAgain(szBase, "bas");
    EXPECT_EQ(base.szProto(), szBase);
    EXPECT_STREQ(ext.szName(), "ext");
    EXPECT_TRUE(ext == base);   // the extension serves clients of the base
    EXPECT_FALSE(base == ext);
    EXPECT_TRUE(base == baseAgain);
    EXPECT_TRUE(base == base);
}

TEST(Proto, BaseMarshalWritesCoreTypesOnly)
{
    YekProto pro(szBase, "bas");
    struct Case {
        int eType;
        std::string out;
        bool fGood;
    } cases[] = {{0, std::string(1, '\0'), true}, {2, "\x02", true}, {3, "", false}, {-1, "", false}};
    for (const Case& c : cases) {
        std::stringbuf sb;
        xostream xo(&sb);
        YekControl uc(c.eType, 8);
        pro.marshal(xo, &uc);
        EXPECT_EQ(sb.str(), c.out) << c.eType;
        EXPECT_EQ(xo.isGood(), c.fGood) << c.eType;
        if (!c.fGood) {
            EXPECT_STREQ(xo.szErr(), "yek");
            EXPECT_EQ(xo.iErr(), 179);
        }
    }
}

TEST(Proto, BaseUnmarshRefusesOtherTypes)
{
    YekProto pro(szBase, "bas");
    for (int eType : {7, -1, 3}) {
        std::stringbuf sb("\x01\x02");
        xistream xi(&sb);
        YekControlBuf ucb;
        pro.unmarsh(xi, YekControl(eType, 8), &ucb);
        EXPECT_FALSE(xi.isGood()) << eType;
        EXPECT_STREQ(xi.szErr(), "yek");
        EXPECT_EQ(xi.iErr(), 167);
        EXPECT_TRUE(ucb == YekControlBuf()) << "out is untouched";
    }
}

TEST(Proto, BaseUnmarshBuildsABareCoreHeaderInPlace)
{
    YekProto pro(szBase, "bas");
    std::stringbuf sb("\x01");
    xistream xi(&sb);
    YekControlBuf ucb;
    ucb._eType = 2;  // the header and out are the same object
    pro.unmarsh(xi, ucb, &ucb);
    EXPECT_TRUE(xi.isGood());
    EXPECT_EQ(ucb.eType(), 2);
    EXPECT_EQ(ucb.size(), sizeof(YekControl));
    EXPECT_EQ(sb.sgetc(), 1) << "nothing is read";
}

}  // namespace
