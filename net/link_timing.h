// How often the link's two timers tick on the Main window's thread.
#pragma once

#include <chrono>

// A linked station other than a RemoteSide sends a heartbeat this often; three periods without
// any packet mean a dead link.
constexpr std::chrono::milliseconds kHeartbeatPeriod{2000};

// The link timer moves text from the link on to the keyer as its queue drains, and watches
// for a dead link and a lost keyer: quick while text from the link waits for the keyer, slow
// otherwise, since under Wine every tick of an idle station costs the Wine server a round of
// work.
constexpr std::chrono::milliseconds kLinkFeedPeriod{50};
constexpr std::chrono::milliseconds kLinkWatchPeriod{500};
