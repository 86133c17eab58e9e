#include "list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Item : Link {
    explicit Item(int i) : id(i) {}
    Item(ChainRaw* pcn, int i) : Link(pcn), id(i) {}
    int id;
};

std::string ids(const ChainRaw& cn)
{
    std::string s;
    ChainIterator it;
    cn.start_iter(&it);
    while (Link* l = cn.iterate(&it))
        s += std::to_string(static_cast<Item*>(l)->id);
    return s;
}

// Walks both directions and checks the count, so that a broken back pointer
// shows up as well.
void expectChain(const ChainRaw& cn, const std::string& sIds)
{
    EXPECT_EQ(ids(cn), sIds);
    EXPECT_EQ(cn.count(), sIds.size());
    std::string sBack;
    ChainIterator it{cn.tail(), 1};
    while (Link* l = cn.iterate(&it))
        sBack.insert(sBack.begin(), static_cast<char>('0' + static_cast<Item*>(l)->id));
    EXPECT_EQ(sBack, sIds);
}

struct ChainTest : ::testing::Test {
    ~ChainTest() override
    {
        while (a.pull()) {}
        while (b.pull()) {}
    }
    ChainRaw a, b;
    Item i1{1}, i2{2}, i3{3}, i4{4};
};

TEST_F(ChainTest, PushPullPopAndPut)
{
    EXPECT_EQ(a.pull(), nullptr);
    EXPECT_EQ(a.pop(), nullptr);
    EXPECT_EQ(a.count(), 0u);

    EXPECT_EQ(a.put(nullptr, &i2), &i2);  // empty: head and tail
    EXPECT_EQ(a.head(), &i2);
    EXPECT_EQ(a.tail(), &i2);
    a.put(nullptr, &i1);                  // becomes the head
    a.push(&i4);
    a.put(&i2, &i3);                      // after i2
    expectChain(a, "1234");

    EXPECT_EQ(a.pull(), &i1);
    EXPECT_EQ(a.pop(), &i4);
    expectChain(a, "23");
    EXPECT_EQ(i1.chain(), nullptr);
}

TEST_F(ChainTest, PushOfChainedLinkIsRefused)
{
    a.push(&i1);
    b.push(&i2);
    EXPECT_EQ(b.push(&i1), nullptr);
    EXPECT_EQ(a.push(&i1), nullptr);
    expectChain(a, "1");
    expectChain(b, "2");
    EXPECT_EQ(i1.chain(), &a);
}

TEST_F(ChainTest, ImportMovesLinksAndChains)
{
    a.push(&i1);
    a.push(&i2);
    a.push(&i3);
    a.import(&i1);  // own link goes to the tail
    expectChain(a, "231");
    b.import(&i4);  // unchained link is appended
    b.import(&i2);  // from another chain
    expectChain(a, "31");
    expectChain(b, "42");

    b.import(&a);
    expectChain(b, "4231");
    expectChain(a, "");

    b.import(&b);  // into itself: nothing happens
    expectChain(b, "4231");

    ChainRaw c(&b);
    expectChain(c, "4231");
    expectChain(b, "");
    while (c.pull()) {}
}

TEST_F(ChainTest, DestroyedLinkLeavesItsChain)
{
    a.push(&i1);
    {
        Item t(&a, 9);
        a.push(&i2);
        EXPECT_EQ(a.count(), 3u);
    }
    expectChain(a, "12");
}

TEST_F(ChainTest, RemoveWhileIteratingSkipsNothing)
{
    for (Item* p : {&i1, &i2, &i3, &i4})
        a.push(p);
    std::string seen;
    ChainIterator it;
    a.start_iter(&it);
    EXPECT_EQ(a.peek(&it), &i1);
    while (Link* l = a.iterate(&it)) {
        seen += std::to_string(static_cast<Item*>(l)->id);
        a.remove(l);
    }
    EXPECT_EQ(seen, "1234");
    expectChain(a, "");
}

TEST_F(ChainTest, PositionsAndCopies)
{
    a.push(&i1);
    a.push(&i2);
    b.push(&i3);
    Link* mp[3] = {};
    EXPECT_EQ(a.get(mp, 3), 2);
    EXPECT_EQ(mp[0], &i1);
    EXPECT_EQ(mp[1], &i2);
    EXPECT_EQ(a.get(mp, 0), 0);
    EXPECT_EQ(a.get(1), &i2);
    EXPECT_EQ(a.get(5), nullptr);
    EXPECT_EQ(a.get(-1), &i1);
    EXPECT_EQ(a.pos(&i2), 1);
    EXPECT_EQ(a.pos(&i3), -1);
    EXPECT_EQ(a.pos(nullptr), -1);
    EXPECT_EQ(a.remove(nullptr), nullptr);
}

TEST(ChainDeath, AssertionTexts)
{
    struct Case {
        const char* what;
        void (*f)();
        const char* report;
    } cases[] = {
        {"~ChainRaw not empty",
         [] {
             Item* p = new Item(1);
             ChainRaw* pcn = new ChainRaw;
             pcn->push(p);
             delete pcn;
         },
         "Assertion failed: _c==0, file list, line 50"},
        {"remove from empty chain",
         [] {
             ChainRaw a, b;
             Item i(1);
             b.push(&i);
             a.remove(&i);
         },
         "Assertion failed: _c, file list, line 73"},
        {"remove link of another chain",
         [] {
             ChainRaw a, b;
             Item i(1), j(2);
             a.push(&j);
             b.push(&i);
             a.remove(&i);
         },
         "Assertion failed: l->_chain==this, file list, line 74"},
        {"put after link of another chain",
         [] {
             ChainRaw a, b;
             Item i(1), j(2);
             b.push(&i);
             a.put(&i, &j);
         },
         "Assertion failed: l->_chain == this, file list, line 91"},
        {"push null", [] { ChainRaw().push(nullptr); }, "Assertion failed: l != 0 .*, file list"},
        {"put null", [] { ChainRaw().put(nullptr, nullptr); }, "Assertion failed: nel != 0 .*, file list"},
        {"import null link", [] { ChainRaw().import(static_cast<Link*>(nullptr)); },
         "Assertion failed: l != 0 .*, file list"},
        {"import null chain", [] { ChainRaw().import(static_cast<ChainRaw*>(nullptr)); },
         "Assertion failed: pcn != 0 .*, file list"},
        {"chain from null", [] { ChainRaw c(nullptr); }, "Assertion failed: pcn != 0 .*, file list"},
        {"link into null", [] { Item i(nullptr, 1); }, "Assertion failed: pcn != 0 .*, file list"},
        {"light list append",
         [] {
             LiLink a, b, c;
             a.append(&b);
             c.append(&b);
         },
         "Assertion failed: pllNew->_pllNext == 0 && pllNew->_pllPrev == 0, file list, line 167"},
        {"light list insert",
         [] {
             LiLink a, b, c;
             a.insert(&b);
             c.insert(&b);
         },
         "Assertion failed: pllNew->_pllNext == 0 && pllNew->_pllPrev == 0, file list, line 178"},
        {"light node destroyed linked",
         [] {
             LiLink a;
             LiLink* p = new LiLink;
             a.append(p);
             delete p;
         },
         "Assertion failed: _pllNext == 0 && _pllPrev == 0, file list, line 201"},
        {"light chain append linked",
         [] {
             LiLink a, b;
             a.append(&b);
             LiChain().appendTail(&b);
         },
         "Assertion failed: pll->isIsol\\(\\), file list, line 208"},
        {"light chain head without tail",
         [] {
             LiLink a;
             LiChain ch;
             ch._pllHead = &a;
             ch.appendTail(new LiLink);
         },
         "Assertion failed: !_pllHead, file list, line 212"},
        {"payload null", [] { LiLiPl p(nullptr); }, "Assertion failed: p, file list, line 237"},
    };
    for (const Case& c : cases)
        EXPECT_DEATH(c.f(), c.report) << c.what;
}

TEST(LightList, AppendInsertRemove)
{
    int x = 0;
    LiChain ch;
    LiLiPl p1(&x), p2(&x), p3(&x);
    EXPECT_EQ(p1.pv(), &x);
    ch.appendTail(&p1);
    ch.appendTail(&p3);
    p3.insert(&p2);
    EXPECT_EQ(p1.pllNext(), &p2);
    EXPECT_EQ(p2.pllNext(), &p3);
    EXPECT_EQ(p3.pllPrev(), &p2);
    EXPECT_EQ(ch.remove(&p3), &p3);
    EXPECT_EQ(ch._pllTail, &p2);
    EXPECT_EQ(ch.removeHead(), &p1);
    EXPECT_EQ(ch._pllHead, &p2);
    EXPECT_EQ(ch.removeHead(), &p2);
    EXPECT_EQ(ch.removeHead(), nullptr);
    EXPECT_TRUE(p1.isIsol() && p2.isIsol() && p3.isIsol());
}

}  // namespace
