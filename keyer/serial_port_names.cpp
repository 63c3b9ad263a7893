#include <cstdio>

#include "keyer/serial_port.h"

std::string KeyerPortDeviceName(int port_number) {
    // COM10 and up are reachable only through the device namespace; the fixed strings stop
    // at 16, and higher numbers keep the short form.
    static const char* const kDeviceNamespaceNames[] = {
        "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM12", "\\\\.\\COM13",
        "\\\\.\\COM14", "\\\\.\\COM15", "\\\\.\\COM16",
    };
    if (port_number >= 10 && port_number <= 16) {
        return kDeviceNamespaceNames[port_number - 10];
    }
    char name[16];
    std::snprintf(name, sizeof name, "com%d:", port_number);
    return name;
}

std::string ProbePortDeviceName(int port_number) {
    char name[24];
    std::snprintf(name, sizeof name, port_number >= 10 ? "\\\\.\\COM%d" : "COM%d", port_number);
    return name;
}
