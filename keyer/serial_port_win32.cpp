// The keyer port on a Windows COM device, with overlapped transfers that wait for their
// completion.
//
// The port's own read time-outs are off (all zero: a read waits until it has every byte),
// and a read's time-out is the wait for its completion instead, after which the read is
// cancelled. The time-outs of a COM port belong to the handle, so they could not differ
// between the keyer reader and other readers, and the reader must not have one: a read that
// times out every 10 ms costs the reader, and Wine's server with it, a hundred wake-ups a
// second while the keyer says nothing. The reader instead waits for its read and a stop
// event together, and the close sets the stop event.
#include <windows.h>

#include <atomic>
#include <memory>

#include "keyer/serial_port.h"

struct SerialPort::Platform {
    std::atomic<HANDLE> handle{nullptr};
    DCB state;
    COMMTIMEOUTS timeouts;
    // Set by a cancel so that the transfers still to come fail at once instead of waiting on
    // a keyer that has stopped reading; cleared by the next open.
    std::atomic<bool> transfers_cancelled{false};
    // A read's time-out in milliseconds, played by the wait for its completion.
    std::atomic<uint32_t> read_total_constant{250};
    // Manual-reset; set by InterruptWait, made anew by each open.
    HANDLE stop_event = nullptr;

    void PaceFailedRead(DWORD started);
    int Transfer(bool write, void* bytes, uint32_t count);
};

namespace {

// Ends a pending transfer early and waits until it has ended: until then it still owns the
// record and the buffer. True when it ended with every byte, which can happen when the
// bytes came in before the cancel took effect.
bool CancelAndFinish(HANDLE handle, OVERLAPPED* overlapped, uint32_t count) {
    CancelIoEx(handle, overlapped);
    DWORD transferred = 0;
    return GetOverlappedResult(handle, overlapped, &transferred, TRUE) && transferred == count;
}

}  // namespace

// A read that the device refuses at once (an unplugged adapter, a pty whose other end has
// gone) would otherwise return at once too, and the keyer reader, which reads in a loop,
// would spin on a dead port: it waits out the time-out instead, as a live port would. The
// stop event still ends that wait at once.
void SerialPort::Platform::PaceFailedRead(DWORD started) {
    const DWORD limit = read_total_constant.load();
    const DWORD elapsed = GetTickCount() - started;
    if (transfers_cancelled.load() || elapsed >= limit) {
        return;
    }
    if (stop_event != nullptr) {
        WaitForSingleObject(stop_event, limit - elapsed);
    } else {
        Sleep(limit - elapsed);
    }
}

// One overlapped transfer: its own record and event, so a read and a write may be pending
// on the port together.
int SerialPort::Platform::Transfer(bool write, void* bytes, uint32_t count) {
    const HANDLE device = handle.load();
    if (device == nullptr || transfers_cancelled.load()) {
        return 0;
    }
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return 0;
    }
    const DWORD started = GetTickCount();
    DWORD transferred = 0;
    const BOOL done = write ? WriteFile(device, bytes, count, &transferred, &overlapped)
                            : ReadFile(device, bytes, count, &transferred, &overlapped);
    int result = 0;
    // A read's time-out ends in its cancel, with fewer bytes; only a refusal counts as failed.
    bool failed = false;
    if (done) {
        result = transferred == count ? 1 : 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const DWORD limit = write ? INFINITE : read_total_constant.load();
        const DWORD waited = WaitForSingleObject(overlapped.hEvent, limit);
        if (waited == WAIT_TIMEOUT) {
            result = CancelAndFinish(device, &overlapped, count) ? 1 : 0;
        } else if (waited != WAIT_OBJECT_0) {
            CancelAndFinish(device, &overlapped, count);
            failed = true;
        } else if (!GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
            failed = true;
        } else if (transferred == count) {
            result = 1;
        }
    } else {
        failed = true;
    }
    CloseHandle(overlapped.hEvent);
    if (failed && !write) {
        PaceFailedRead(started);
    }
    return result;
}

SerialPort::SerialPort() : platform_(std::make_unique<Platform>()) {}

SerialPort::~SerialPort() {
    Close();
}

KeyerResult SerialPort::Open(int port_number, const KeyerPortPlace&) {
    Platform& port = *platform_;
    if (port.handle.load() != nullptr) {
        // The device would refuse a second opener anyway; returning here also keeps the
        // handle of the open port instead of overwriting it with an invalid one.
        return kPortOpenFailed;
    }
    const std::string name = KeyerPortDeviceName(port_number);
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return kPortOpenFailed;
    }
    port.transfers_cancelled = false;
    port.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (port.stop_event == nullptr) {
        CloseHandle(handle);
        return kPortOpenFailed;
    }
    port.handle = handle;

    if (!GetCommState(handle, &port.state)) {
        return kPortStateUnreadable;
    }
    port.state.BaudRate = 1200;
    port.state.StopBits = ONESTOPBIT;
    port.state.Parity = NOPARITY;
    port.state.ByteSize = 8;
    port.state.fDtrControl = DTR_CONTROL_ENABLE;
    port.state.fDsrSensitivity = FALSE;
    port.state.fOutX = FALSE;
    port.state.fInX = FALSE;
    port.state.fNull = FALSE;
    port.state.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(handle, &port.state)) {
        return kPortStateUnwritable;
    }

    // No time-outs of the port's own; see the top of the file.
    port.timeouts.ReadIntervalTimeout = 0;
    port.timeouts.ReadTotalTimeoutMultiplier = 0;
    port.timeouts.ReadTotalTimeoutConstant = 0;
    port.read_total_constant = 250;
    port.timeouts.WriteTotalTimeoutMultiplier = 0;
    port.timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &port.timeouts);

    Sleep(400);
    if (!PurgeComm(handle, PURGE_RXCLEAR)) {
        return kPortPurgeFailed;
    }
    return kKeyerOk;
}

int SerialPort::Write(const uint8_t* bytes, uint32_t count) {
    return platform_->Transfer(true, const_cast<uint8_t*>(bytes), count);
}

int SerialPort::Read(uint8_t* buffer, uint32_t count) {
    return platform_->Transfer(false, buffer, count);
}

void SerialPort::Close() {
    Platform& port = *platform_;
    const HANDLE handle = port.handle.exchange(nullptr);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
    if (port.stop_event != nullptr) {
        CloseHandle(port.stop_event);
        port.stop_event = nullptr;
    }
}

void SerialPort::SetReadTimeout(uint32_t milliseconds) {
    platform_->read_total_constant = milliseconds;
}

PortWaitResult SerialPort::WaitForByte(uint8_t* byte) {
    Platform& port = *platform_;
    const HANDLE handle = port.handle.load();
    const DWORD started = GetTickCount();
    if (handle == nullptr || port.stop_event == nullptr || port.transfers_cancelled.load()) {
        port.PaceFailedRead(started);
        return kPortWaitEnded;
    }
    if (WaitForSingleObject(port.stop_event, 0) == WAIT_OBJECT_0) {
        return kPortWaitEnded;
    }
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        port.PaceFailedRead(started);
        return kPortWaitEnded;
    }
    uint8_t received = 0;
    DWORD transferred = 0;
    int result = 0;
    bool failed = false;
    if (ReadFile(handle, &received, 1, &transferred, &overlapped)) {
        result = transferred == 1 ? 1 : 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const HANDLE both[2] = {overlapped.hEvent, port.stop_event};
        const DWORD woken = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            failed = !GetOverlappedResult(handle, &overlapped, &transferred, FALSE);
            result = !failed && transferred == 1 ? 1 : 0;
        } else {
            // Stopped, or the wait itself failed: a byte that came in before the cancel
            // took effect is returned rather than lost.
            result = CancelAndFinish(handle, &overlapped, 1) ? 1 : 0;
            failed = woken != WAIT_OBJECT_0 + 1;
        }
    } else {
        failed = true;
    }
    CloseHandle(overlapped.hEvent);
    if (result == 1) {
        *byte = received;
        return kPortByteRead;
    }
    if (!failed) {
        return kPortWaitEnded;
    }
    port.PaceFailedRead(started);
    // A read that the close's cancel aborted is the end of the wait, not a failed port.
    return port.transfers_cancelled.load() ||
                   WaitForSingleObject(port.stop_event, 0) == WAIT_OBJECT_0
               ? kPortWaitEnded
               : kPortFailed;
}

void SerialPort::InterruptWait() {
    Platform& port = *platform_;
    if (port.stop_event != nullptr) {
        SetEvent(port.stop_event);
    }
}

void SerialPort::DropDtr() {
    Platform& port = *platform_;
    port.state.fDtrControl = DTR_CONTROL_DISABLE;
    SetCommState(port.handle.load(), &port.state);
}

void SerialPort::CancelTransfers() {
    Platform& port = *platform_;
    port.transfers_cancelled = true;
    const HANDLE handle = port.handle.load();
    if (handle != nullptr) {
        CancelIoEx(handle, nullptr);
    }
}

bool KeyerPortPresent(int port_number, const KeyerPortPlace&) {
    const std::string name = ProbePortDeviceName(port_number);
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    switch (GetLastError()) {
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
        case ERROR_SHARING_VIOLATION:
        case ERROR_SEM_TIMEOUT:
            return true;
        default:
            return false;
    }
}
