// The status texts of the analyzer modes and client, and the source name of
// their assertions.
#pragma once

namespace KVdepMoru100 {

static const char szSrcMoru[] = "moru";

// Line decoding.
static const char szFifoOverflow[] = "fifo overflow";
static const char szArmWithoutClear[] = "arm without clear";
static const char szTimerWrap[] = "timer wrap";
static const char szTimeout[] = "timeout";
// Server input that cannot be decoded: the number is the edge index or the
// FIFO index the answer gave.
static const char szEdgeIndex[] = "edge index out of range";
static const char szFifoIndex[] = "fifo index out of range";
// Stored stamps whose order gives no result.
static const char szStampOrder[] = "stamps out of order";
// The application's set-up: a time-out past the tick range (the number is
// its seconds), an averaging factor of 0, a mode sampled before init.
static const char szTimeoutRange[] = "timeout out of range";
static const char szScaleZero[] = "averaging factor 0";
static const char szNotConfigured[] = "mode not configured";
// The exchanges: a refused request (the number is the server's code), an
// answer of another type (the number is its type), a pump that stopped.
static const char szMoruResp[] = "MoruResp";
static const char szUnexpected[] = "unexpected response";
static const char szExchangeFailed[] = "exchange failed";
static const char szExchangeNotFinished[] = "exchange not finished";
// A pulse past the tick range (the number is its seconds).
static const char szPulseRange[] = "pulse out of range";

}  // namespace KVdepMoru100
