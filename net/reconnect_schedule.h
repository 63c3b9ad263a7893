// How long a Net Client waits before it tries its server again, after a link that ended or
// a connect that failed. Most drops last a moment (a router restarts, the site's operator
// restarts the program), so the first try comes soon; a server that stays away is tried
// less and less often, so that a home station left running all night neither floods the
// Connect log nor knocks at the site's door every few seconds.
#pragma once

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

// The waits in order, at least one; the last repeats for as long as the server stays away.
using ReconnectWaits = std::vector<std::chrono::seconds>;
inline const ReconnectWaits kReconnectWaits = {std::chrono::seconds(5), std::chrono::seconds(10),
                                               std::chrono::seconds(20), std::chrono::seconds(60)};

class ReconnectSchedule {
  public:
    explicit ReconnectSchedule(ReconnectWaits waits) : waits_(std::move(waits)) {}

    // The wait before the next try, each one at least as long as the one before.
    std::chrono::seconds NextWait();
    // A link was made, or the operator closed: the next loss waits the shortest time again.
    void Restart() { next_ = 0; }

  private:
    ReconnectWaits waits_;
    std::size_t next_ = 0;
};
