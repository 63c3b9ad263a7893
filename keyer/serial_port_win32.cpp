// The keyer port on a Windows COM device, with overlapped transfers that wait for their
// completion.
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
// The read time-out's total constant, for the reader thread, which must not read
// port_timeouts while the window thread may write it.
std::atomic<uint32_t> read_total_constant{250};

// A read that the device refuses at once (an unplugged adapter, a pty whose other end has
// gone) would otherwise return at once too, and the keyer reader, which reads in a loop,
// would spin on a dead port: it waits out the time-out instead, as a live port would.
void PaceFailedRead(DWORD started) {
    const DWORD limit = read_total_constant.load();
    const DWORD elapsed = GetTickCount() - started;
    if (!transfers_cancelled.load() && elapsed < limit) {
        Sleep(limit - elapsed);
    }
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
    // A time-out completes with success and fewer bytes; only a refusal counts as failed.
    bool failed = false;
    if (done) {
        result = transferred == count ? 1 : 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
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

int SetLine(bool rts, bool on) {
    const HANDLE handle = port_handle.load();
    if (!GetCommState(handle, &port_state)) {
        return -5;
    }
    if (rts) {
        port_state.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    } else {
        port_state.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    }
    if (!SetCommState(handle, &port_state)) {
        return -6;
    }
    return 0;
}

}  // namespace

int OpenKeyerPort(int port_number) {
    if (port_handle.load() != nullptr) {
        // The device would refuse a second opener anyway; returning here also keeps the
        // handle of the open port instead of overwriting it with an invalid one.
        return -4;
    }
    const std::string name = KeyerPortDeviceName(port_number);
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -4;
    }
    transfers_cancelled = false;
    port_handle = handle;

    if (!GetCommState(handle, &port_state)) {
        return -5;
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
        return -6;
    }

    port_timeouts.ReadIntervalTimeout = 0;
    port_timeouts.ReadTotalTimeoutMultiplier = 0;
    port_timeouts.ReadTotalTimeoutConstant = 250;
    read_total_constant = 250;
    port_timeouts.WriteTotalTimeoutMultiplier = 0;
    port_timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &port_timeouts);

    Sleep(400);
    if (!PurgeComm(handle, PURGE_RXCLEAR)) {
        return -10;
    }
    return 0;
}

int WriteKeyerPort(const uint8_t* bytes, uint32_t count) {
    return Transfer(true, const_cast<uint8_t*>(bytes), count);
}

int ReadKeyerPort(uint8_t* buffer, uint32_t count) {
    return Transfer(false, buffer, count);
}

int WriteKeyerPortByte(uint8_t byte) {
    return WriteKeyerPort(&byte, 1);
}

int ReadKeyerPortByte(uint8_t* byte) {
    uint8_t received = 0;
    if (ReadKeyerPort(&received, 1) != 1) {
        return 0;
    }
    *byte = received;
    return 1;
}

int SetKeyerPortRts(int on) {
    return SetLine(true, on != 0);
}

int SetKeyerPortDtr(int on) {
    return SetLine(false, on != 0);
}

int GetKeyerPortModemStatus(uint32_t* status) {
    DWORD bits = 0;
    const BOOL ok = GetCommModemStatus(port_handle.load(), &bits);
    *status = bits;
    return ok;
}

void CloseKeyerPort() {
    const HANDLE handle = port_handle.exchange(nullptr);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
}

void SetKeyerPortReadTimeout(uint32_t milliseconds) {
    port_timeouts.ReadTotalTimeoutConstant = milliseconds;
    read_total_constant = milliseconds;
    SetCommTimeouts(port_handle.load(), &port_timeouts);
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
