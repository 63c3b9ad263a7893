// What a SocketLoop keeps on the host build: the registry of the sockets made on it, the
// events raised and not yet taken, and the pipe that wakes its poll. socket_api_posix.cpp
// makes the calls and tells the registry what each changed; socket_loop_posix.cpp keeps the
// registry and turns what poll sees into Winsock's events; socket_errors_posix.cpp gives
// each failure its Winsock number.
//
// Locks. registry_mutex is held only for short bookkeeping, never across a wait, so the
// loop and the senders never hold each other up for long. send_mutex serialises SendSome
// with Close, so a sender never writes to a descriptor number that was closed and handed
// out again in the middle of its send. Order: send_mutex before registry_mutex.
#pragma once

#include <poll.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "net/socket_api.h"

namespace socket_posix {

// socket_errors_posix.cpp: the Winsock number for a platform error number, and for a name
// look-up's result.
int WinsockError(int posix_error);
int LookupError(int lookup_result);
// Makes `winsock_error` the calling thread's last error; returns kSocketError.
int Fail(int winsock_error);

inline int Descriptor(SocketHandle socket) {
    return socket <= static_cast<SocketHandle>(INT_MAX) ? static_cast<int>(socket) : -1;
}

inline SocketHandle Handle(int fd) {
    return static_cast<SocketHandle>(fd);
}

struct SocketEntry {
    uint64_t serial = 0;  // tells a socket from a later one that got the same descriptor
    uint16_t selected = 0;
    bool datagram = false;
    bool listening = false;
    bool connecting = false;  // a connect whose outcome is not reported yet
    bool connected = false;
    bool finished = false;  // close or a failed connect reported: nothing more to raise
    bool read_enabled = true;
    bool accept_enabled = true;
    bool write_enabled = false;
};

// The pipe that wakes a poll under way, made with the loop and kept as long as it, so that
// no poll ever watches a descriptor closed and given out again. When it could not be made,
// the poll's slice bounds every wait.
class PollWaker {
  public:
    PollWaker();
    ~PollWaker();
    PollWaker(const PollWaker&) = delete;
    PollWaker& operator=(const PollWaker&) = delete;

    // What a poll watches to be woken; -1 when there is no pipe.
    int ReadEnd() const { return read_end_; }
    void Wake() const;
    void Drain() const;

  private:
    int read_end_ = -1;
    int write_end_ = -1;
};

}  // namespace socket_posix

struct SocketLoop::State {
    using SocketEntry = socket_posix::SocketEntry;

    ~State();

    // The entry of a socket made on this loop, or null with the reason as the thread's last
    // error. Called with registry_mutex held, as are the two after it.
    SocketEntry* FindLocked(SocketHandle socket);
    void RegisterLocked(int fd, const SocketEntry& entry);
    void ForgetLocked(int fd);
    // The last stop: every socket still open goes, and what was raised for them.
    void CloseAllLocked();
    // A new socket of `family`, `type` and `protocol`, registered with `entry`; kNoSocket with
    // the reason as the last error, also before a start.
    SocketHandle Open(NetAddress::Family family, int type, int protocol, const SocketEntry& entry);
    // The descriptor of a socket made on this loop, or -1 with the reason as the last error.
    int FindDescriptor(SocketHandle socket);
    // False, with kSocketErrorNotStarted as the last error, before a start.
    bool Started();
    // After a change to what the poll watches, made with registry_mutex held or not.
    void WakePoll();
    // A send found no room: the write event, when selected, comes once there is.
    void EnableWrite(int fd);

    bool Wait(int timeout_ms, SocketEvent* event);
    void Wake();

    std::mutex registry_mutex;
    std::map<int, SocketEntry> registry;
    std::deque<SocketEvent> queued_events;
    int starts = 0;
    uint64_t next_serial = 1;
    std::mutex send_mutex;

  private:
    // The sockets one poll watches, the waker's pipe last, with each one's serial.
    struct Watch {
        std::vector<pollfd> fds;
        std::vector<uint64_t> serials;
    };

    bool TakeQueuedLocked(SocketEvent* event);
    void ListWatchedLocked(Watch* watch);
    bool PollWatched(Watch* watch, int timeout_ms);
    bool RaiseSeen(const Watch& watch);
    void RaiseLocked(int fd, SocketEntry& entry, short seen);
    void RaiseAcceptLocked(int fd, SocketEntry& entry, short seen);
    void RaiseConnectLocked(int fd, SocketEntry& entry, short seen);
    void RaiseStreamLocked(int fd, SocketEntry& entry, short seen);
    void RaiseDatagramLocked(int fd, SocketEntry& entry, short seen);
    void Queue(int fd, uint16_t event, int error);

    socket_posix::PollWaker waker_;
    // Set by Wake: the wait it wakes returns without an event.
    std::atomic<bool> wait_woken_{false};
    // Polls under way, counted under registry_mutex as each one's watch list is made: a
    // change made after a list was made always finds the count raised.
    std::atomic<int> polls_under_way_{0};
};
