#include "udbuf.h"

#include <gtest/gtest.h>

#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "sink.h"

namespace {

// Records every block handed to put; takes at most cTake bytes of a block
// when cTake is not negative.
class Recorder : public downbuf {
public:
    explicit Recorder(std::streambuf* psb) : downbuf(psb) {}
    int put(const char* pch, int c) override
    {
        int cTaken = cTake >= 0 && cTake < c ? cTake : c;
        vsg.emplace_back(pch, static_cast<size_t>(cTaken));
        return cTaken;
    }
    std::vector<std::string> vsg;
    int cTake = -1;
};

TEST(Downbuf, CharactersAreBufferedAndBlocksKeepTheirOrder)
{
    Sink sink;
    Recorder rb(&sink);
    std::ostream os(&rb);
    os.put('a').put('b');
    EXPECT_TRUE(rb.vsg.empty());
    os.write("xyz", 3);
    EXPECT_EQ(rb.vsg, (std::vector<std::string>{"ab", "xyz"}));

    rb.vsg.clear();
    for (int i = 0; i < 257; ++i)
        os.put(static_cast<char>('0' + i % 10));
    ASSERT_EQ(rb.vsg.size(), 1u);  // the 257th byte made room for itself
    EXPECT_EQ(rb.vsg[0].size(), 256u);
    EXPECT_TRUE(os.good());
}

TEST(Downbuf, SyncHandsBufferedBytesOnAndReachesTheDownstreamBuffer)
{
    Sink sink;
    Recorder rb(&sink);
    std::ostream os(&rb);
    os.flush();  // nothing buffered
    EXPECT_EQ(sink.cSync, 1);
    os.put('q');
    os.flush();
    EXPECT_EQ(rb.vsg, (std::vector<std::string>{"q"}));
    EXPECT_EQ(sink.cSync, 2);
}

TEST(Downbuf, ShortTakeFailsAndKeepsOnlyWhatWasNotTaken)
{
    Sink sink;
    Recorder rb(&sink);
    std::ostream os(&rb);
    os.put('a').put('b').put('c');
    rb.cTake = 1;
    os.write("xy", 2);
    EXPECT_TRUE(os.bad());
    rb.cTake = -1;
    os.clear();
    os.flush();
    EXPECT_EQ(rb.vsg, (std::vector<std::string>{"a", "bc"}));
}

// Delivers the bytes of an upstream buffer at most cChunk at a time.
class Source : public upbuf {
public:
    Source(std::streambuf* psb, int cChunk) : upbuf(psb), _cChunk(cChunk) {}
    int get(char* pch, int c) override
    {
        ++cGet;
        return static_cast<int>(upsgetn(pch, c < _cChunk ? c : _cChunk));
    }
    int cGet = 0;

private:
    int _cChunk;
};

std::string text(int c)
{
    std::string s;
    for (int i = 0; i < c; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}

TEST(Upbuf, ReadsCharactersAndBlocksAcrossRefills)
{
    const std::string sgIn = text(700);
    std::stringbuf sbUp(sgIn);
    Source src(&sbUp, 1000);
    std::istream is(&src);

    std::string sg;
    sg += static_cast<char>(is.get());  // fills the get area with 256 bytes
    char buf[400];
    is.read(buf, sizeof buf);  // 255 from the get area, the rest directly
    EXPECT_EQ(is.gcount(), 400);
    sg.append(buf, sizeof buf);
    std::string sgRest((std::istreambuf_iterator<char>(is)), std::istreambuf_iterator<char>());
    EXPECT_EQ(sg + sgRest, sgIn);
    EXPECT_EQ(is.get(), std::char_traits<char>::eof());
}

TEST(Upbuf, ReadOfNothingAndShortReads)
{
    std::stringbuf sbUp("abcdef");
    Source src(&sbUp, 2);
    std::istream is(&src);
    char buf[10];
    is.read(buf, 0);
    EXPECT_TRUE(is.good());
    EXPECT_EQ(is.gcount(), 0);

    is.read(buf, 10);  // the source gives 2 bytes a time, then nothing
    EXPECT_EQ(is.gcount(), 6);
    EXPECT_EQ(std::string(buf, 6), "abcdef");
    EXPECT_TRUE(is.eof());
}

TEST(Upbuf, PutBackGivesTheByteDeliveredBefore)
{
    std::stringbuf sbUp("abcdefgh");
    Source src(&sbUp, 3);
    EXPECT_EQ(src.sungetc(), std::char_traits<char>::eof());  // nothing read yet
    EXPECT_EQ(src.sbumpc(), 'a');
    EXPECT_EQ(src.sbumpc(), 'b');
    EXPECT_EQ(src.sbumpc(), 'c');
    EXPECT_EQ(src.sbumpc(), 'd');  // refilled
    EXPECT_EQ(src.sungetc(), 'd');
    EXPECT_EQ(src.sungetc(), 'c');  // the byte kept from the previous fill

    char buf[5];
    EXPECT_EQ(src.sgetn(buf, 5), 5);  // c to f from the get area, g directly
    EXPECT_EQ(std::string(buf, 5), "cdefg");
    EXPECT_EQ(src.sungetc(), 'g');
    EXPECT_EQ(src.sbumpc(), 'g');
    EXPECT_EQ(src.sbumpc(), 'h');
    EXPECT_EQ(src.sbumpc(), std::char_traits<char>::eof());
}

}  // namespace
