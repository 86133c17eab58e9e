#include "dag.h"
#include "stats.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string print(const Counter& cnt)
{
    std::ostringstream os;
    os << cnt;
    return os.str();
}

TEST(Counter, PrintsSumCountAndMean)
{
    struct Case {
        std::vector<unsigned> samples;
        const char* out;
    } cases[] = {{{}, "0/0"}, {{5}, "5/1(5)"}, {{1, 2, 4}, "7/3(2.33333)"}, {{0, 0}, "0/2(0)"}};
    for (const Case& c : cases) {
        Counter cnt;
        for (unsigned n : c.samples)
            cnt.sample(n);
        EXPECT_EQ(print(cnt), c.out);
    }
    Counter cnt;
    cnt.sample(26);
    std::ostringstream os;
    os << std::hex << cnt;
    EXPECT_EQ(os.str(), "26/1(26)");
}

TEST(Counter, WrappedSumIsStickyOverflow)
{
    Counter cnt;
    cnt.sample(UINT_MAX);
    EXPECT_FALSE(cnt.isOverflow());
    cnt.sample(1);
    EXPECT_TRUE(cnt.isOverflow());
    cnt.sample(0);
    EXPECT_EQ(cnt.count(), 2u);  // ignored once overflowed
    EXPECT_EQ(print(cnt), "####");
}

TEST(IndexVector, LinearIndexBothWaysAndBack)
{
    const int mpDim[] = {3, 4};
    const int mpi[] = {1, 2};
    EXPECT_EQ(ltrans(mpDim, mpi, 2), 7);
    EXPECT_EQ(ltransr(mpDim, mpi, 2), 6);
    int mpiBack[2];
    vtrans(mpiBack, mpDim, 7, 2);
    EXPECT_EQ(mpiBack[0], 1);
    EXPECT_EQ(mpiBack[1], 2);

    // Walking every element of a 3x4x2 array with inc counts the linear index.
    const int mpDim3[] = {3, 4, 2};
    EXPECT_EQ(lcnt(mpDim3, 3), 24);
    int mpiWalk[3] = {0, 0, 0};
    for (int iLin = 0; iLin < 24; ++iLin) {
        int mpiExp[3];
        vtrans(mpiExp, mpDim3, iLin, 3);
        ASSERT_EQ(eq(mpiWalk, mpiExp, 3), 1) << iLin;
        ASSERT_EQ(ltrans(mpDim3, mpiWalk, 3), iLin);
        int iDim = inc(mpiWalk, mpDim3, 3);
        ASSERT_EQ(iDim, iLin == 23 ? 3 : iLin % 3 != 2 ? 0 : iLin % 12 != 11 ? 1 : 2) << iLin;
    }
    int mpiWrap[] = {2, 3};
    EXPECT_EQ(inc(mpiWrap, mpDim, 2), 2);
    EXPECT_EQ(mpiWrap[0], 0);
    EXPECT_EQ(mpiWrap[1], 0);
}

TEST(IndexVector, CompareCopyFloorAndCeiling)
{
    const int mpDim[] = {7, 8, 9};
    int piL[] = {5, 1, 3};
    int piR[] = {0, 2, 3};
    EXPECT_EQ(min(piL, piR, mpDim, 3), piL);  // dimension 1 decides
    EXPECT_EQ(max(piL, piR, mpDim, 3), piR);
    EXPECT_EQ(min(piL, piL, mpDim, 3), piL);
    EXPECT_EQ(eq(piL, piR, 3), 0);
    copy(piR, piL, 3);
    EXPECT_EQ(eq(piL, piR, 3), 1);
    ceill(piL, 2, mpDim, 3);
    EXPECT_EQ(std::vector<int>(piL, piL + 3), (std::vector<int>{6, 7, 3}));
    floor(piL, 3, mpDim, 3);
    EXPECT_EQ(std::vector<int>(piL, piL + 3), (std::vector<int>{0, 0, 0}));
}

int cDeleted;

int cmpInt(const void* pL, const void* pR)
{
    return *static_cast<const int*>(pL) - *static_cast<const int*>(pR);
}

void delInt(void* p)
{
    ++cDeleted;
    *static_cast<int*>(p) = -1;
}

TEST(Uniq, DropsRunsOfEqualNeighbours)
{
    int mp[] = {1, 1, 2, 2, 2, 3, 1};
    cDeleted = 0;
    ASSERT_EQ(uniq(mp, 7, sizeof(int), cmpInt, delInt), 4);
    EXPECT_EQ(std::vector<int>(mp, mp + 4), (std::vector<int>{1, 2, 3, 1}));
    EXPECT_EQ(cDeleted, 3);

    int mpSame[] = {4, 4, 4};
    EXPECT_EQ(uniq(mpSame, 3, sizeof(int), cmpInt, nullptr), 1);
    EXPECT_EQ(uniq(nullptr, 0, 0, nullptr, nullptr), 0);
}

// A graph of nodes whose successors are listed by index; the callbacks log
// what tsort tells them.
struct Node {
    std::vector<int> succ;
    size_t iNext;
    int iOrd;
    int cInd;
};

struct Graph {
    std::vector<Node> nodes;
    Node* node(int i) { return &nodes[static_cast<size_t>(i)]; }
};

void tellNode(void* pObj, void* pIter, int iOrd, int cInd)
{
    Node* pn = static_cast<Node*>(pObj);
    if (cInd >= 0)
        pn->cInd = cInd;
    if (iOrd >= 0)
        pn->iOrd = iOrd;
    if (pIter)
        pn->iNext = 0;
}

void* nextSucc(void* pObj, void* pIter)
{
    Node* pn = static_cast<Node*>(pObj);
    Graph* pg = static_cast<Graph*>(pIter);
    if (pn->iNext == pn->succ.size())
        return nullptr;
    return pg->node(pn->succ[pn->iNext++]);
}

int sortGraph(Graph& g, std::vector<int>& vList)
{
    std::vector<int> vInd(g.nodes.size());
    vList.assign(g.nodes.size(), -1);
    for (Node& n : g.nodes)
        n.iOrd = n.cInd = -1;
    return tsort(g.nodes.data(), sizeof(Node), vList.data(), vInd.data(), static_cast<int>(g.nodes.size()),
                 tellNode, nextSucc, &g);
}

TEST(Tsort, OrdersAChainAndADiamond)
{
    std::vector<int> vList;
    Graph chain{{{{1}, 0, 0, 0}, {{2}, 0, 0, 0}, {{}, 0, 0, 0}}};
    EXPECT_EQ(sortGraph(chain, vList), 0);
    EXPECT_EQ(vList, (std::vector<int>{0, 1, 2}));

    // 3 -> 1, 3 -> 2, 1 -> 0, 2 -> 0
    Graph diamond{{{{}, 0, 0, 0}, {{0}, 0, 0, 0}, {{0}, 0, 0, 0}, {{1, 2}, 0, 0, 0}}};
    EXPECT_EQ(sortGraph(diamond, vList), 0);
    EXPECT_EQ(vList, (std::vector<int>{3, 1, 2, 0}));
    EXPECT_EQ(diamond.nodes[0].cInd, 2);
    EXPECT_EQ(diamond.nodes[0].iOrd, 3);
    EXPECT_EQ(diamond.nodes[3].iOrd, 0);
}

TEST(Tsort, CycleLeavesItsElementsUnordered)
{
    std::vector<int> vList;
    Graph cycle{{{{1}, 0, 0, 0}, {{0}, 0, 0, 0}}};
    EXPECT_EQ(sortGraph(cycle, vList), 1);
    EXPECT_EQ(cycle.nodes[0].iOrd, -1);
    EXPECT_EQ(cycle.nodes[1].iOrd, -1);
    EXPECT_EQ(cycle.nodes[1].cInd, 1);

    Graph tail{{{{1}, 0, 0, 0}, {{2}, 0, 0, 0}, {{1}, 0, 0, 0}}};  // 0, then 1 <-> 2
    EXPECT_EQ(sortGraph(tail, vList), 1);
    EXPECT_EQ(tail.nodes[0].iOrd, 0);
    EXPECT_EQ(tail.nodes[2].iOrd, -1);

    Graph none;
    EXPECT_EQ(sortGraph(none, vList), 0);
}

void* outside(void*, void* pIter)
{
    return pIter;
}

void nothing(void*, void*, int, int)
{
}

TEST(SortingAndIndexVectorDeath, BrokenArgumentsStop)
{
    struct Case {
        const char* what;
        std::function<void()> f;
        const char* report;
    } cases[] = {
        {"ltrans", [] { int d[] = {3}, i[] = {3}; ltrans(d, i, 1); },
         "Assertion failed: pi\\[i\\]<piDim\\[i\\], file vtrans, line 10"},
        {"ltransr", [] { int d[] = {3, 2}, i[] = {0, 2}; ltransr(d, i, 2); },
         "Assertion failed: pi\\[i\\]<piDim\\[i\\], file vtrans, line 23"},
        {"vtrans out of range", [] { int d[] = {3, 4}, i[2]; vtrans(i, d, 12, 2); },
         "Assertion failed: iLin >= 0 && iLin<d, file vtrans, line 40"},
        {"vtrans zero size", [] { int d[] = {0, 4}, i[2]; vtrans(i, d, 1, 2); },
         "Assertion failed: iLin >= 0 && iLin<d, file vtrans, line 40"},
        {"lcnt zero", [] { int d[] = {3, 0}; lcnt(d, 2); }, "Assertion failed: p>0, file vtrans, line 48"},
        {"lcnt overflow", [] { int d[] = {65536, 65536}; lcnt(d, 2); },
         "Assertion failed: p>0, file vtrans, line 48"},
        {"lcnt wrapping to positive", [] { int d[] = {5, 1 << 30}; lcnt(d, 2); },
         "Assertion failed: p>0, file vtrans, line 48"},
        {"floor", [] { int d[] = {1}, i[1]; floor(i, 2, d, 1); }, "Assertion failed: c <= cDim, file vtrans, line 115"},
        {"ceill", [] { int d[] = {1}, i[1]; ceill(i, 2, d, 1); }, "Assertion failed: c <= cDim, file vtrans, line 125"},
        {"uniq", [] { int a[2] = {}; uniq(a, 2, sizeof(int), nullptr, nullptr); },
         "Assertion failed: pBase && s>0 && pFCmp, file sort, line 13"},
        {"tsort successor outside", [] {
             int a[2] = {}, l[2], ind[2], x = 0;
             tsort(a, sizeof(int), l, ind, 2, nothing, outside, &x);
         },
         "Assertion failed: successor inside the array, file dag"},
    };
    for (const Case& c : cases)
        EXPECT_DEATH(c.f(), c.report) << c.what;
}

}  // namespace
