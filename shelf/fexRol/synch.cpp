#include "synch.h"

namespace KVdepSynch100 {

Mutex::Mutex() = default;

void Mutex::lock()
{
}

void Mutex::unlock()
{
}

Mutex::~Mutex() = default;

}  // namespace KVdepSynch100
