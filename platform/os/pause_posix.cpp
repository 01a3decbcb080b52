// POSIX: a short sleep (the timer slack adds a few tens of microseconds).
#include <time.h>

#include "platform/os/os_services.h"

namespace ostrel::os {

void PauseBriefly() {
    timespec pause{0, 20000L};
    nanosleep(&pause, nullptr);
}

}  // namespace ostrel::os
