// The record of the last entries that bounds the stand-ins' logs, and the
// record of the first entries that keeps problems: what each keeps, in which
// order, and what each counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kv_ring.h"

namespace {

using kvring::FirstKept;
using kvring::Ring;

std::vector<int> range(int from, int to)
{
    std::vector<int> r;
    for (int i = from; i < to; ++i)
        r.push_back(i);
    return r;
}

Ring<int> filled(std::size_t cap, int n)
{
    Ring<int> r(cap);
    for (int i = 0; i < n; ++i)
        r.push_back(i);
    return r;
}

TEST(Ring, KeepsTheLastEntriesOldestFirstAndCountsAll)
{
    struct Case {
        std::size_t cap;
        int n;
    } mpcase[] = {
        {0, 0}, {0, 5}, {1, 1}, {1, 4}, {3, 2}, {3, 3}, {3, 4}, {3, 7}, {4, 13}, {5, 5}, {8, 100},
    };
    for (const Case& c : mpcase) {
        Ring<int> r = filled(c.cap, c.n);
        int cKept = std::min<int>(c.n, int(c.cap));
        std::vector<int> want = range(c.n - cKept, c.n);
        SCOPED_TRACE("capacity " + std::to_string(c.cap) + ", " + std::to_string(c.n) + " pushed");
        EXPECT_EQ(r.toVector(), want);
        EXPECT_EQ(r.toVector(), want);
        std::vector<int> seen;
        for (int v : r)
            seen.push_back(v);
        EXPECT_EQ(seen, want);
        for (std::size_t i = 0; i < r.size(); ++i)
            EXPECT_EQ(r[i], want[i]);
        EXPECT_EQ(r.size(), std::size_t(cKept));
        EXPECT_EQ(r.empty(), cKept == 0);
        EXPECT_EQ(r.total(), uint64_t(c.n));
        EXPECT_EQ(r.dropped(), uint64_t(c.n - cKept));
        EXPECT_EQ(r.firstSeq(), uint64_t(c.n - cKept));
        if (cKept > 0) {
            EXPECT_EQ(r.back(), c.n - 1);
        }
    }
}

TEST(Ring, FindsAnEntryBySequenceNumberWhileItIsKept)
{
    Ring<int> r(3);
    uint64_t seqFirst = r.push_back(100);
    EXPECT_EQ(seqFirst, 0u);
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(r.push_back(100 + i), uint64_t(i));
    EXPECT_EQ(r.find(0), nullptr);  // pushed out
    EXPECT_EQ(r.find(1), nullptr);
    ASSERT_NE(r.find(2), nullptr);
    EXPECT_EQ(*r.find(2), 102);
    EXPECT_EQ(*r.find(4), 104);
    EXPECT_EQ(r.find(5), nullptr);  // not yet pushed
    *r.find(3) = 7;
    EXPECT_EQ(r.toVector(), (std::vector<int>{102, 7, 104}));
    // Keeping nothing, the newest entry stays reachable until the next push.
    Ring<int> none(0);
    uint64_t seq = 0;
    none.pushSlot(&seq) = 9;
    ASSERT_NE(none.find(seq), nullptr);
    EXPECT_EQ(*none.find(seq), 9);
    none.push_back(10);
    EXPECT_EQ(none.find(seq), nullptr);
    EXPECT_TRUE(none.empty());
}

TEST(Ring, ANewCapacityKeepsTheNewestInOrder)
{
    struct Case {
        std::size_t cap;
        int n;
        std::size_t capNew;
    } mpcase[] = {
        {4, 6, 2}, {4, 6, 4}, {4, 6, 8}, {4, 2, 1}, {4, 9, 0}, {0, 3, 2}, {3, 10, 5},
    };
    for (const Case& c : mpcase) {
        SCOPED_TRACE("capacity " + std::to_string(c.cap) + " to " + std::to_string(c.capNew) + " after " +
                     std::to_string(c.n));
        Ring<int> r = filled(c.cap, c.n);
        r.setCapacity(c.capNew);
        int cKept = std::min<int>({c.n, int(c.cap), int(c.capNew)});
        EXPECT_EQ(r.toVector(), range(c.n - cKept, c.n));
        EXPECT_EQ(r.capacity(), c.capNew);
        EXPECT_EQ(r.total(), uint64_t(c.n));
        // Then it wraps at the new capacity.
        for (int i = c.n; i < c.n + 11; ++i)
            r.push_back(i);
        int cAfter = std::min<int>(c.n + 11, int(c.capNew));
        EXPECT_EQ(r.toVector(), range(c.n + 11 - cAfter, c.n + 11));
        EXPECT_EQ(r.total(), uint64_t(c.n + 11));
    }
}

TEST(Ring, ClearForgetsTheEntriesButNotTheCount)
{
    Ring<std::string> r(2);
    r.push_back("a");
    r.push_back("b");
    r.push_back("c");
    r.clear();
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.total(), 3u);
    EXPECT_EQ(r.find(2), nullptr);
    r.push_back("d");
    EXPECT_EQ(r.toVector(), (std::vector<std::string>{"d"}));
    EXPECT_EQ(*r.find(3), "d");
}

TEST(Ring, AFullRingHandsOutTheOldestSlotToOverwrite)
{
    Ring<std::string> r(2);
    r.pushSlot().assign("first");
    r.pushSlot().assign("second");
    std::string& slot = r.pushSlot();
    EXPECT_EQ(slot, "first");  // the caller overwrites it whole
    slot.assign("third");
    EXPECT_EQ(r.toVector(), (std::vector<std::string>{"second", "third"}));
}

TEST(FirstKept, KeepsTheFirstEntriesAndCountsEveryOne)
{
    struct Case {
        std::size_t limit;
        int n;
    } mpcase[] = {{0, 0}, {0, 3}, {2, 1}, {2, 2}, {2, 5}, {64, 200}};
    for (const Case& c : mpcase) {
        SCOPED_TRACE("limit " + std::to_string(c.limit) + ", " + std::to_string(c.n) + " pushed");
        FirstKept<int> f(c.limit);
        for (int i = 0; i < c.n; ++i)
            f.push_back(i);
        int cKept = std::min<int>(c.n, int(c.limit));
        EXPECT_EQ(f.kept(), range(0, cKept));
        EXPECT_EQ(f.total(), uint64_t(c.n));
        EXPECT_EQ(f.notKept(), uint64_t(c.n - cKept));
        EXPECT_EQ(f.empty(), c.n == 0) << "not empty whenever one came, kept or not";
        f.clear();
        EXPECT_TRUE(f.empty());
        EXPECT_EQ(f.total(), 0u);
    }
}

}  // namespace
