// A downstream stream buffer for the tests: keeps what it is given, counts
// its synchronisations and can be told to refuse bytes.
#pragma once

#include <streambuf>
#include <string>

class Sink : public std::streambuf {
public:
    std::string s;
    int cSync = 0;
    long cLimit = -1;  // bytes still taken; -1 without limit

protected:
    int overflow(int ch) override
    {
        if (ch == traits_type::eof())
            return 0;
        if (cLimit == 0)
            return traits_type::eof();
        if (cLimit > 0)
            --cLimit;
        s += static_cast<char>(ch);
        return ch;
    }
    std::streamsize xsputn(const char* pch, std::streamsize n) override
    {
        if (cLimit >= 0 && n > cLimit)
            n = cLimit;
        if (cLimit >= 0)
            cLimit -= n;
        s.append(pch, static_cast<size_t>(n));
        return n;
    }
    int sync() override
    {
        ++cSync;
        return 0;
    }
};
