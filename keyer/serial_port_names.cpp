#include <cstdio>

#include "keyer/serial_port.h"

std::string KeyerPortDeviceName(int port_number) {
    // Only COM1 to COM9 are DOS device names; from COM10 up a port is reachable only through
    // the device namespace, and Windows takes "com17:" for a file of that name.
    char name[24];
    std::snprintf(name, sizeof name, port_number >= 10 ? "\\\\.\\COM%d" : "com%d:", port_number);
    return name;
}

std::string ProbePortDeviceName(int port_number) {
    char name[24];
    std::snprintf(name, sizeof name, port_number >= 10 ? "\\\\.\\COM%d" : "COM%d", port_number);
    return name;
}
