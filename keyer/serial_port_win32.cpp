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

#include "keyer/serial_port.h"

namespace {

std::atomic<HANDLE> port_handle{nullptr};
DCB port_state;
COMMTIMEOUTS port_timeouts;
// Set by a cancel so that the transfers still to come fail at once instead of waiting on
// a keyer that has stopped reading; cleared by the next open.
std::atomic<bool> transfers_cancelled{false};
// A read's time-out in milliseconds, played by the wait for its completion.
std::atomic<uint32_t> read_total_constant{250};
// Manual-reset; set by InterruptKeyerPortWait, made anew by each open.
HANDLE stop_event = nullptr;

// A read that the device refuses at once (an unplugged adapter, a pty whose other end has
// gone) would otherwise return at once too, and the keyer reader, which reads in a loop,
// would spin on a dead port: it waits out the time-out instead, as a live port would. The
// stop event still ends that wait at once.
void PaceFailedRead(DWORD started) {
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

// Ends a pending transfer early and waits until it has ended: until then it still owns the
// record and the buffer. True when it ended with every byte, which can happen when the
// bytes came in before the cancel took effect.
bool CancelAndFinish(HANDLE handle, OVERLAPPED* overlapped, uint32_t count) {
    CancelIoEx(handle, overlapped);
    DWORD transferred = 0;
    return GetOverlappedResult(handle, overlapped, &transferred, TRUE) && transferred == count;
}

// One overlapped transfer: its own record and event, so a read and a write may be pending
// on the port together.
int Transfer(bool write, void* bytes, uint32_t count) {
    const HANDLE handle = port_handle.load();
    if (handle == nullptr || transfers_cancelled.load()) {
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
    const BOOL done = write ? WriteFile(handle, bytes, count, &transferred, &overlapped)
                            : ReadFile(handle, bytes, count, &transferred, &overlapped);
    int result = 0;
    // A read's time-out ends in its cancel, with fewer bytes; only a refusal counts as failed.
    bool failed = false;
    if (done) {
        result = transferred == count ? 1 : 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const DWORD limit = write ? INFINITE : read_total_constant.load();
        const DWORD waited = WaitForSingleObject(overlapped.hEvent, limit);
        if (waited == WAIT_TIMEOUT) {
            result = CancelAndFinish(handle, &overlapped, count) ? 1 : 0;
        } else if (waited != WAIT_OBJECT_0) {
            CancelAndFinish(handle, &overlapped, count);
            failed = true;
        } else if (!GetOverlappedResult(handle, &overlapped, &transferred, FALSE)) {
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

}  // namespace

int OpenKeyerPort(int port_number) {
    if (port_handle.load() != nullptr) {
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
    transfers_cancelled = false;
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop_event == nullptr) {
        CloseHandle(handle);
        return kPortOpenFailed;
    }
    port_handle = handle;

    if (!GetCommState(handle, &port_state)) {
        return kPortStateUnreadable;
    }
    port_state.BaudRate = 1200;
    port_state.StopBits = ONESTOPBIT;
    port_state.Parity = NOPARITY;
    port_state.ByteSize = 8;
    port_state.fDtrControl = DTR_CONTROL_ENABLE;
    port_state.fDsrSensitivity = FALSE;
    port_state.fOutX = FALSE;
    port_state.fInX = FALSE;
    port_state.fNull = FALSE;
    port_state.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(handle, &port_state)) {
        return kPortStateUnwritable;
    }

    // No time-outs of the port's own; see the top of the file.
    port_timeouts.ReadIntervalTimeout = 0;
    port_timeouts.ReadTotalTimeoutMultiplier = 0;
    port_timeouts.ReadTotalTimeoutConstant = 0;
    read_total_constant = 250;
    port_timeouts.WriteTotalTimeoutMultiplier = 0;
    port_timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &port_timeouts);

    Sleep(400);
    if (!PurgeComm(handle, PURGE_RXCLEAR)) {
        return kPortPurgeFailed;
    }
    return kKeyerOk;
}

int WriteKeyerPort(const uint8_t* bytes, uint32_t count) {
    return Transfer(true, const_cast<uint8_t*>(bytes), count);
}

int ReadKeyerPort(uint8_t* buffer, uint32_t count) {
    return Transfer(false, buffer, count);
}

void CloseKeyerPort() {
    const HANDLE handle = port_handle.exchange(nullptr);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
    if (stop_event != nullptr) {
        CloseHandle(stop_event);
        stop_event = nullptr;
    }
}

void SetKeyerPortReadTimeout(uint32_t milliseconds) {
    read_total_constant = milliseconds;
}

int WaitForKeyerPortByte(uint8_t* byte) {
    const HANDLE handle = port_handle.load();
    const DWORD started = GetTickCount();
    if (handle == nullptr || stop_event == nullptr || transfers_cancelled.load()) {
        PaceFailedRead(started);
        return kPortWaitEnded;
    }
    if (WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0) {
        return kPortWaitEnded;
    }
    OVERLAPPED overlapped;
    ZeroMemory(&overlapped, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        PaceFailedRead(started);
        return kPortWaitEnded;
    }
    uint8_t received = 0;
    DWORD transferred = 0;
    int result = 0;
    bool failed = false;
    if (ReadFile(handle, &received, 1, &transferred, &overlapped)) {
        result = transferred == 1 ? 1 : 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const HANDLE both[2] = {overlapped.hEvent, stop_event};
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
    PaceFailedRead(started);
    // A read that the close's cancel aborted is the end of the wait, not a failed port.
    return transfers_cancelled.load() || WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0
               ? kPortWaitEnded
               : kPortFailed;
}

void InterruptKeyerPortWait() {
    if (stop_event != nullptr) {
        SetEvent(stop_event);
    }
}

void DropKeyerPortDtr() {
    port_state.fDtrControl = DTR_CONTROL_DISABLE;
    SetCommState(port_handle.load(), &port_state);
}

void CancelKeyerPortTransfers() {
    transfers_cancelled = true;
    const HANDLE handle = port_handle.load();
    if (handle != nullptr) {
        CancelIoEx(handle, nullptr);
    }
}

bool KeyerPortPresent(int port_number) {
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
