// A HIX-5316 plugged into the stand-in world with the kavorqir module loaded
// (KV_KAVORQIR_MODULE, the module's path, comes from the build): the stack a
// benchmark drives through the library. The board outlives the world.
#pragma once

#include <cstdio>
#include <memory>

#include "kv_world.h"
#include "sim/sim_boards.h"

namespace kvbench {

struct StackWorld {
    std::unique_ptr<KVdepSim100::EzUsbBoard> pboard = KVdepSim100::makeHix5316();
    kvworld::World world;

    // False, with a message, when the driver did not load.
    bool start()
    {
        world.plug(*pboard);
        if (world.loadDriver(KV_KAVORQIR_MODULE) == STATUS_SUCCESS)
            return true;
        std::fprintf(stderr, "the kavorqir module did not load\n");
        return false;
    }
    // After every handle of the library is closed.
    void finish() { world.teardown(); }
};

}  // namespace kvbench
