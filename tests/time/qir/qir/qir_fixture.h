// The board plexer on the in-process counter board, opened.
#pragma once

#include <sstream>
#include <string>

#include "qir.h"
#include "qir_board.h"

#include <gtest/gtest.h>

namespace qir_test {

inline std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

inline std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

inline std::string queues(const KVdepYek100::YekChannel& cn)
{
    std::ostringstream os;
    cn.printQueues(os);
    return os.str();
}

// Every buffer back in its pool: nothing held, queued or in transfer.
const char szIdle[] = "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4";

struct QirPlexTest : ::testing::Test {
    QirInprocBoard board;
    vaq_test::InprocRig rig{board, &KVdepQir100::theQir_qir_Proto};
    KVdepQir100::QirTaskPlex plex{rig.puc(), rig.pucIo()};

    void SetUp() override
    {
        ASSERT_TRUE(plex.callVaqOpen().isGood());
        board.clearRequests();
    }
};

}  // namespace qir_test
