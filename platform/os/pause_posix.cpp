// POSIX: hand the processor to another ready thread, if there is one, and come back at once
// otherwise. A short nanosleep is not brief on a virtual machine: a 20 us sleep lasts about 85 us
// typically and, now and then, milliseconds (the halted virtual processor has to be woken), longer
// than the board's queue of descriptors lasts at its fastest rates, so records were lost. Yielding
// keeps the thread on its processor: no loss on an otherwise idle machine. The price is a processor
// kept busy while the acquisition runs, and on a machine whose processors are all saturated the
// scheduler charges the yielding thread like a busy loop, so there it loses more than the sleep.
#include <sched.h>

#include "platform/os/os_services.h"

namespace ostrel::os {

void PauseBriefly() { sched_yield(); }

}  // namespace ostrel::os
