// A lockable base whose lock and unlock do nothing: a base for classes that
// may need real locking.
#pragma once

#include "kvexport.h"

namespace KVdepSynch100 {

class FEXROL_API Mutex {
public:
    Mutex();
    virtual void lock();
    virtual void unlock();
    virtual ~Mutex();
};

}  // namespace KVdepSynch100
