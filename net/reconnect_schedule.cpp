#include "net/reconnect_schedule.h"

std::chrono::seconds ReconnectSchedule::NextWait() {
    const std::chrono::seconds wait = waits_[next_];
    if (next_ + 1 < waits_.size()) {
        ++next_;
    }
    return wait;
}
