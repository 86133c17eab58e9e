// The burst log's buffer: the tick count in front of every line, repeat
// notice and final drain, with the ticks from the settable clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "kv_clock.h"
#include "logbufdm.h"

namespace {

TEST(LogbufDm, PrefixIsTheTickCountInAtLeastSevenDigits)
{
    const struct {
        uint64_t ms;
        const char* sz;
    } cases[] = {
        {0, "0000000 "},       {1234, "0001234 "},          {999999, "0999999 "},
        {1234567, "1234567 "}, {12345678, "12345678 "},     {4294967295u, "4294967295 "},
        // The tick count is 32 bits wide: it starts again after 2^32 ms.
        {4294967296u + 5, "0000005 "},
    };
    for (const auto& c : cases) {
        kvclock::ManualClock clock(c.ms);
        std::stringbuf sb;
        LogbufDm lb(&sb, 8);
        lb.logPrefix(&sb);
        EXPECT_EQ(sb.str(), c.sz) << c.ms;
    }
}

// A log stream as the library builds it: unit-buffered, over the buffer.
class LogStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        _plb = std::make_unique<LogbufDm>(&_sb, 8);
        _pos = std::make_unique<std::ostream>(_plb.get());
        _pos->setf(std::ios::unitbuf);
    }
    // The buffer and the stream taken down as the library does it.
    void close()
    {
        _pos.reset();
        _plb.reset();
    }
    void line(uint64_t ms, const std::string& sg)
    {
        kvclock::setManualMs(ms);
        *_pos << sg << std::endl;
    }

    kvclock::ManualClock _clock;
    std::stringbuf _sb;
    std::unique_ptr<LogbufDm> _plb;
    std::unique_ptr<std::ostream> _pos;
};

TEST_F(LogStream, EveryLineNoticeAndDrainHaveTheTimeTheyAreWritten)
{
    line(1000, "[0] hix_loop : count=0 0 ");
    line(1001, "[0] hix_loop : count=0 0 ");
    line(1002, "[0] hix_loop : count=0 0 ");
    // Only the line that breaks the run writes the notice.
    line(1010, "[0] hix_loop : count=1 0 ");
    line(1011, "[0] hix_get_counts -> stat=good () 0");
    line(1012, "[0] hix_get_counts -> stat=good () 0");
    EXPECT_EQ(_sb.str(),
              "0001000 [0] hix_loop : count=0 0 \n"
              "0001010 last line repeated 2 times\n"
              "0001010 [0] hix_loop : count=1 0 \n"
              "0001011 [0] hix_get_counts -> stat=good () 0\n");
    // At the end the pending repeat is reported and a bare prefix closes the
    // log, both with the time of the end.
    kvclock::setManualMs(12345678);
    close();
    EXPECT_EQ(_sb.str(),
              "0001000 [0] hix_loop : count=0 0 \n"
              "0001010 last line repeated 2 times\n"
              "0001010 [0] hix_loop : count=1 0 \n"
              "0001011 [0] hix_get_counts -> stat=good () 0\n"
              "12345678 last line repeated 1 times\n"
              "12345678 ");
}

TEST_F(LogStream, LinesWrittenPieceByPieceAreOneLine)
{
    // A FIFO line's log line is written in several pieces; each piece is
    // flushed (unit-buffered) and the line goes down once, at its end.
    kvclock::setManualMs(77);
    *_pos << "64000000.18e80300 000.000000000000 ";
    *_pos << " ECAP";
    *_pos << ' ' << 100u;
    EXPECT_EQ(_sb.str(), "");
    kvclock::setManualMs(78);
    *_pos << std::endl;
    EXPECT_EQ(_sb.str(), "0000078 64000000.18e80300 000.000000000000  ECAP 100\n");
    // Text after the last line end is dropped at the end.
    *_pos << "unfinished";
    close();
    EXPECT_EQ(_sb.str(), "0000078 64000000.18e80300 000.000000000000  ECAP 100\n0000078 ");
}

TEST_F(LogStream, AnEmptyLogGetsOnlyTheBarePrefix)
{
    kvclock::setManualMs(5);
    close();
    EXPECT_EQ(_sb.str(), "0000005 ");
}

}  // namespace
