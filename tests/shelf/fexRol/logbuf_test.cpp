#include "logbuf.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "sink.h"

namespace {

// Lines given as letters, one a line: "AAB" stands for A, A, B.
std::string lines(const std::string& sgLetters)
{
    std::string s;
    for (char ch : sgLetters)
        s += std::string(1, ch) + "\n";
    return s;
}

struct Case {
    int cDepth;
    std::string sgIn;
    std::string sgOut;
};

// What a Logbuf of the given depth hands down for the input, destruction
// included; once written as one block, once character by character.
void expectLog(const Case& c)
{
    for (bool fByChar : {false, true}) {
        Sink sink;
        {
            Logbuf lb(&sink, c.cDepth);
            std::ostream os(&lb);
            if (fByChar) {
                for (char ch : c.sgIn)
                    os.put(ch);
            } else {
                os << c.sgIn;
            }
            EXPECT_TRUE(os.good());
        }
        EXPECT_EQ(sink.s, c.sgOut) << "depth " << c.cDepth << (fByChar ? " by character" : " as a block")
                                   << " input " << c.sgIn;
    }
}

TEST(Logbuf, CollapsesRepeatedLinesAndBlocks)
{
    const std::string sgOne = "last line repeated 1 times\n";
    const std::string sgTwo = "last line repeated 2 times\n";
    const Case cases[] = {
        {8, lines("AAAB"), lines("A") + sgTwo + lines("B")},
        {8, lines("AAB"), lines("A") + sgOne + lines("B")},
        {8, lines("ABABABX"), lines("AB") + "last 2 lines repeated 2 times\n" + lines("X")},
        {8, lines("ABABAX"), lines("ABA") + "last 2 lines repeated 1 times\n" + lines("X")},
        {8, lines("ABAX"), lines("ABAX")},
        {8, lines("AAABA"), lines("A") + sgTwo + lines("BA")},
        {8, lines("ABCABCABCD"), lines("ABC") + "last 3 lines repeated 2 times\n" + lines("D")},
        {8, lines("ABCABX"), lines("ABCAB") + lines("X")},
        // A pending repeat is reported at destruction.
        {8, lines("BAAA"), lines("BA") + sgTwo},
        {8, lines("A") + std::string(999, 'A') + "\n" + lines("A"), lines("A") + std::string(999, 'A') + "\n" + lines("A")},
        {0, lines("AAAB"), lines("AAAB")},
        {1, lines("ABAB"), lines("ABAB")},
        {1, lines("ABBA"), lines("AB") + sgOne + lines("A")},
        // The history holds the 2 newest lines only.
        {2, lines("ABCA"), lines("ABCA")},
        {2, lines("ABCB"), lines("ABCB")},
        {2, lines("ABCC"), lines("ABC") + sgOne},
        {-3, lines("AA"), lines("AA")},
        // Text after the last line end never goes down.
        {8, "A\nB", "A\n"},
        {8, "x\ny", "x\n"},
        {8, "", ""},
    };
    for (const Case& c : cases)
        expectLog(c);
}

TEST(Logbuf, LongRunsCountEveryRepeat)
{
    std::string sgIn;
    for (int i = 0; i < 1000; ++i)
        sgIn += "poll 1 2\n";
    expectLog({8, sgIn + "done\n", "poll 1 2\nlast line repeated 999 times\ndone\n"});
}

TEST(Logbuf, BlockThenLineEndGivesTwoLines)
{
    Sink sink;
    Logbuf lb(&sink, 8);
    std::ostream os(&lb);
    os << "x\ny";
    os << std::flush;
    EXPECT_EQ(sink.s, "x\n");
    os.put('\n');
    os.flush();
    EXPECT_EQ(sink.s, "x\ny\n");
}

// A log with a prefix before every line: it drains in its own destructor, so
// that the notice and the final bare prefix carry its prefix too.
class PrefixLog : public Logbuf {
public:
    PrefixLog(std::streambuf* psb, int c) : Logbuf(psb, c) {}
    ~PrefixLog() override { drain(); }
    void logPrefix(std::streambuf* psb) override { psb->sputn("P ", 2); }
};

TEST(Logbuf, PrefixBeforeEveryLineNoticeAndFinalDrain)
{
    Sink sink;
    {
        PrefixLog lb(&sink, 8);
        std::ostream os(&lb);
        os << "A\nB\nA\nB\nA\nB\n";
        os.put('A').put('\n');  // still buffered when the log goes
    }
    EXPECT_EQ(sink.s, "P A\nP B\nP A\nP last 2 lines repeated 2 times\nP ");
}

TEST(Logbuf, DrainEndsARepetitionEveryTime)
{
    Sink sink;
    {
        PrefixLog lb(&sink, 8);
        std::ostream os(&lb);
        os << "A\nA\n";
        lb.drain();
        lb.drain();  // the empty lines of drains never collapse
        EXPECT_EQ(lb.prg(), nullptr);
        os << "A\n";
    }
    EXPECT_EQ(sink.s, "P A\nP last line repeated 1 times\nP P P A\nP ");
}

TEST(Logbuf, FlushOfAWholeLineReachesTheDownstreamBuffer)
{
    Sink sink;
    Logbuf lb(&sink, 8);
    std::ostream os(&lb);
    os.setf(std::ios_base::unitbuf);
    os << "armed" << std::endl;
    EXPECT_EQ(sink.s, "armed\n");
    EXPECT_GE(sink.cSync, 1);

    os << "armed" << std::endl;
    int cSync = sink.cSync;
    os << "fired" << std::endl;  // the notice flushes the downstream buffer as well
    EXPECT_EQ(sink.s, "armed\nlast line repeated 1 times\nfired\n");
    EXPECT_GT(sink.cSync, cSync);
}

TEST(Logbuf, RefusedLineDuringAFlushGivesTheRepetitionUp)
{
    Sink sink;
    {
        Logbuf lb(&sink, 8);
        std::ostream os(&lb);
        os << "A\nB\nA\n";  // A is pending
        sink.cLimit = 0;
        os << "X\n";  // neither the pending A nor X gets through
        EXPECT_EQ(lb.prg(), nullptr);
        EXPECT_EQ(lb.lines(), Logbuf::Lines{"X\n"});
        EXPECT_TRUE(os.good());  // the log takes everything
        sink.cLimit = -1;
        os << "A\nA\n";
    }
    EXPECT_EQ(sink.s, "A\nB\nA\nlast line repeated 1 times\n");
}

TEST(Logbuf, NoDownstreamBufferWritesNothing)
{
    Logbuf lb(nullptr, 8);
    std::ostream os(&lb);
    os << "A\nA\nB\n" << std::flush;
    EXPECT_TRUE(os.good());
}

}  // namespace
