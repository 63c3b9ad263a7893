#include "station/ptt_watching_queue.h"

#include "keyer/keyer_wire.h"

bool PttWatchingQueue::Queue(const uint8_t* bytes, int count) {
    const bool ptt = count == 2 && bytes[0] == keyer_wire::kBufferedPtt;
    const bool on = ptt && bytes[1] != 0;
    if (on && !may_switch_on_()) {
        return true;
    }
    if (!queue_.Queue(bytes, count)) {
        return false;
    }
    if (ptt) {
        switched_(on);
    }
    return true;
}
