// The keyer port on a termios device. Windows' overlapped transfers with a read time-out
// are played by poll(): a read gathers bytes until it has them all or the time-out's total
// constant has passed, a write waits until every byte is queued. A cancel pipe ends any
// transfer that is waiting, and every later one, until the port is opened again.
//
// The keyer reader does not read with a time-out: it polls the tty and a stop pipe of its
// own together with no time-out at all, so a keyer that says nothing costs no wake-ups, and
// the close still ends the wait at once by writing to the stop pipe. The stop pipe is apart
// from the cancel pipe because the close stops the reader before the writer has sent the
// host close, which a cancel would refuse.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "keyer/serial_port.h"

namespace {

std::string NumberedPortPath(int port_number, const KeyerPortPlace& place) {
    const bool zero_based = place.numbered == KeyerPortPlace::kLinuxSerialPorts;
    char path[512];
    std::snprintf(path, sizeof path, place.numbered.c_str(),
                  zero_based ? port_number - 1 : port_number);
    return path;
}

// A pty has no modem lines; that is not an error for a keyer emulator on one.
bool IsMissingModemLines(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

void ClosePipe(int (&pipe_ends)[2]) {
    for (int& end : pipe_ends) {
        if (end >= 0) {
            close(end);
            end = -1;
        }
    }
}

bool Readable(const pollfd& fd) {
    return (fd.revents & POLLIN) != 0;
}

// The keyer's line: 1200 baud, 8N1, raw, no flow control, DTR on and RTS off. kKeyerOk, or
// the open's result for the step that failed.
KeyerResult SetKeyerLine(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) {
        return kPortStateUnreadable;
    }
    cfmakeraw(&attributes);
    attributes.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
    attributes.c_cflag |= CS8 | CLOCAL | CREAD;
    attributes.c_iflag &= ~(IXON | IXOFF | IXANY);
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    cfsetispeed(&attributes, B1200);
    cfsetospeed(&attributes, B1200);
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        return kPortStateUnwritable;
    }
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if ((ioctl(fd, TIOCMBIS, &dtr) != 0 && !IsMissingModemLines(errno)) ||
        (ioctl(fd, TIOCMBIC, &rts) != 0 && !IsMissingModemLines(errno))) {
        return kPortStateUnwritable;
    }
    return kKeyerOk;
}

PortFailure::Kind FailureKind(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return PortFailure::Kind::kMissing;
        case EACCES:
        case EPERM:
            return PortFailure::Kind::kNoPermission;
        case EBUSY:
        case EWOULDBLOCK:
            return PortFailure::Kind::kInUse;
        default:
            return PortFailure::Kind::kOther;
    }
}

// `result`, with why in `*failure`: the system's last error, taken before anything else can
// change it.
KeyerResult Failed(KeyerResult result, const std::string& path, PortFailure* failure) {
    const int error = errno;
    *failure = {FailureKind(error), path, std::strerror(error)};
    return result;
}

}  // namespace

struct SerialPort::Platform {
    std::atomic<int> handle{-1};
    int cancel_pipe[2] = {-1, -1};
    std::atomic<bool> transfers_cancelled{false};
    int stop_pipe[2] = {-1, -1};
    std::atomic<bool> wait_interrupted{false};
    std::atomic<uint32_t> read_total_constant{250};

    void PaceFailedWait();
    PortWaitResult PacedFailure();
    bool WaitForPort(int fd, short events, int timeout_ms);
};

// A failed wait returns only after the read time-out, as a failed read does, but a stop or
// a cancel still ends it at once.
void SerialPort::Platform::PaceFailedWait() {
    pollfd fds[2] = {{cancel_pipe[0], POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(read_total_constant.load());
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || transfers_cancelled.load() || wait_interrupted.load()) {
            return;
        }
        const int ready = poll(fds, 2, static_cast<int>(left.count()) + 1);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return;
        }
    }
}

// A failed wait, paced: failed unless a stop or a cancel ended the pacing, which makes it
// the end of the wait instead.
PortWaitResult SerialPort::Platform::PacedFailure() {
    PaceFailedWait();
    return wait_interrupted.load() || transfers_cancelled.load() ? kPortWaitEnded : kPortFailed;
}

// Waits for `events` on the port or the cancel pipe. Returns false when the transfer must
// give up: cancelled, the device hung up, or the time-out (negative: none) passed.
bool SerialPort::Platform::WaitForPort(int fd, short events, int timeout_ms) {
    pollfd fds[2] = {{fd, events, 0}, {cancel_pipe[0], POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (fds[1].revents & POLLIN) != 0 || transfers_cancelled.load()) {
            return false;
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            return false;
        }
        if ((fds[0].revents & events) != 0) {
            return true;
        }
        if ((fds[0].revents & POLLHUP) != 0) {
            return false;
        }
    }
}

bool KeyerPortPresent(int port_number, const KeyerPortPlace& place) {
    // Non-blocking, so a serial line without carrier does not hold the probe; the
    // refusals that still mean a device is there match the Windows ones: access denied,
    // in use (TIOCEXCL), a device failure, a time-out.
    const int fd = open(NumberedPortPath(port_number, place).c_str(),
                        O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno == EACCES || errno == EBUSY || errno == EIO || errno == ETIMEDOUT;
}

SerialPort::SerialPort() : platform_(std::make_unique<Platform>()) {}

SerialPort::~SerialPort() {
    Close();
}

KeyerResult SerialPort::Open(int port_number, const KeyerPortPlace& place) {
    Platform& port = *platform_;
    open_failure_ = {};
    if (port.handle.load() >= 0) {
        // Open already: Windows refuses a second opener too.
        return kPortOpenFailed;
    }
    const std::string path =
        place.device.empty() ? NumberedPortPath(port_number, place) : place.device;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failed(kPortOpenFailed, path, &open_failure_);
    }
    // Exclusive like a Windows COM port: TIOCEXCL stops other openers, and the lock also
    // holds against privileged ones, which TIOCEXCL lets through.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        Failed(kPortOpenFailed, path, &open_failure_);
        close(fd);
        return kPortOpenFailed;
    }
    ioctl(fd, TIOCEXCL);
    if (pipe2(port.cancel_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Failed(kPortOpenFailed, path, &open_failure_);
        close(fd);
        return kPortOpenFailed;
    }
    if (pipe2(port.stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Failed(kPortOpenFailed, path, &open_failure_);
        ClosePipe(port.cancel_pipe);
        close(fd);
        return kPortOpenFailed;
    }
    port.transfers_cancelled = false;
    port.wait_interrupted = false;
    port.read_total_constant = 250;
    port.handle = fd;

    const KeyerResult line = SetKeyerLine(fd);
    if (line != kKeyerOk) {
        return Failed(line, path, &open_failure_);
    }

    // The keyer may still be sending from before; what it said then means nothing now.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    if (tcflush(fd, TCIFLUSH) != 0) {
        return Failed(kPortPurgeFailed, path, &open_failure_);
    }
    return kKeyerOk;
}

int SerialPort::Write(const uint8_t* bytes, uint32_t count) {
    Platform& port = *platform_;
    const int fd = port.handle.load();
    if (fd < 0 || port.transfers_cancelled.load()) {
        return 0;
    }
    uint32_t written = 0;
    while (written < count) {
        const ssize_t done = write(fd, bytes + written, count - written);
        if (done > 0) {
            written += static_cast<uint32_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0 && errno != EAGAIN) {
            return 0;
        }
        if (!port.WaitForPort(fd, POLLOUT, -1)) {
            return 0;
        }
    }
    // Like the overlapped write's completion, wait until the bytes have left for the
    // device, so the writer is paced by the line and the keyer's hold bit means something.
    // tcdrain() would do it but cannot be cancelled.
    for (;;) {
        int unsent = 0;
        if (ioctl(fd, TIOCOUTQ, &unsent) != 0 || unsent <= 0) {
            return 1;
        }
        pollfd cancel = {port.cancel_pipe[0], POLLIN, 0};
        if (poll(&cancel, 1, 1) > 0 || port.transfers_cancelled.load()) {
            return 0;
        }
    }
}

int SerialPort::Read(uint8_t* buffer, uint32_t count) {
    Platform& port = *platform_;
    const int fd = port.handle.load();
    if (fd < 0 || port.transfers_cancelled.load()) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(port.read_total_constant.load());
    uint32_t received = 0;
    while (received < count) {
        const ssize_t done = read(fd, buffer + received, count - received);
        if (done > 0) {
            received += static_cast<uint32_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0 && errno != EAGAIN) {
            // A dead device fails at once: pace the caller as a time-out would, so a
            // reader loop does not spin on it.
            std::this_thread::sleep_until(deadline);
            return 0;
        }
        // Nothing there yet: with VMIN 0 a tty reads as 0 bytes rather than EAGAIN. A
        // hang-up shows in the poll, which then gives up until the deadline.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            !port.WaitForPort(fd, POLLIN, static_cast<int>(left.count()) + 1)) {
            if (std::chrono::steady_clock::now() < deadline && !port.transfers_cancelled.load()) {
                std::this_thread::sleep_until(deadline);
            }
            return 0;
        }
    }
    return 1;
}

void SerialPort::Close() {
    Platform& port = *platform_;
    const int fd = port.handle.exchange(-1);
    if (fd >= 0) {
        // The exclusive flag belongs to the tty, not to this descriptor: a pty whose other
        // end stays open would keep refusing the next opener without this.
        ioctl(fd, TIOCNXCL);
        close(fd);
    }
    ClosePipe(port.cancel_pipe);
    ClosePipe(port.stop_pipe);
}

void SerialPort::SetReadTimeout(uint32_t milliseconds) {
    platform_->read_total_constant = milliseconds;
}

void SerialPort::DropDtr() {
    const int fd = platform_->handle.load();
    int dtr = TIOCM_DTR;
    if (fd >= 0) {
        ioctl(fd, TIOCMBIC, &dtr);
    }
}

void SerialPort::CancelTransfers() {
    Platform& port = *platform_;
    port.transfers_cancelled = true;
    if (port.cancel_pipe[1] >= 0) {
        const char wake = 1;
        [[maybe_unused]] ssize_t ignored = write(port.cancel_pipe[1], &wake, 1);
    }
}

PortWaitResult SerialPort::WaitForByte(uint8_t* byte) {
    Platform& port = *platform_;
    const int fd = port.handle.load();
    if (fd < 0 || port.transfers_cancelled.load()) {
        port.PaceFailedWait();
        return kPortWaitEnded;
    }
    pollfd fds[3] = {
        {fd, POLLIN, 0}, {port.cancel_pipe[0], POLLIN, 0}, {port.stop_pipe[0], POLLIN, 0}};
    for (;;) {
        // Tested before the port: a byte that arrives with the stop stays unread.
        if (port.wait_interrupted.load() || port.transfers_cancelled.load()) {
            return kPortWaitEnded;
        }
        const int ready = poll(fds, 3, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return port.PacedFailure();
        }
        if (Readable(fds[1]) || Readable(fds[2])) {
            return kPortWaitEnded;
        }
        if (Readable(fds[0])) {
            const ssize_t done = read(fd, byte, 1);
            if (done == 1) {
                return kPortByteRead;
            }
            if (done < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
        }
        // A hang-up, an error, or a tty that reads as empty although poll said otherwise.
        return port.PacedFailure();
    }
}

void SerialPort::InterruptWait() {
    Platform& port = *platform_;
    port.wait_interrupted = true;
    if (port.stop_pipe[1] >= 0) {
        const char wake = 1;
        [[maybe_unused]] ssize_t ignored = write(port.stop_pipe[1], &wake, 1);
    }
}
