// The worlds of the device and board access tests over the whole road:
// library, Win32 stand-in, driver, USB stand-in, simulated board.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "../e2e_world.h"
#include "qir.h"

namespace e2e_access {

using e2e::CounterWorld;
using e2e::szDev;
using e2e::text;

inline std::string ident(const std::vector<uint8_t>& mpb)
{
    return std::string(mpb.begin(), mpb.end());
}

// The same board opened by the board initializer.
struct OpenedCounter : CounterWorld {
    std::unique_ptr<KVdepQir100::QirLocalTaskInitializer> pini;
    KVdepQir100::QirTaskPlex* prp = nullptr;

    void SetUp() override
    {
        CounterWorld::SetUp();
        pini.reset(new KVdepQir100::QirLocalTaskInitializer(szDev));
        ASSERT_TRUE(pini->isGood()) << text(*pini);
        prp = pini->prp();
    }
    void TearDown() override
    {
        pini.reset();
        CounterWorld::TearDown();
    }
};

}  // namespace e2e_access
