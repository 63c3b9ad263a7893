#include "app/start_with_windows_win32.h"

#include <windows.h>

#include <vector>

std::optional<std::string> RunKeyEntry::Command() {
    DWORD size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<char> text(size + 1);
    size = static_cast<DWORD>(text.size());
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr,
                     text.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(text.data());
}

long RunKeyEntry::Write(const std::string& command) {
    HKEY run = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &run, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegSetValueExA(run, kRunValueName, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>(command.size() + 1));
    RegCloseKey(run);
    return status;
}

long RunKeyEntry::Remove() {
    HKEY run = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_SET_VALUE, &run);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueA(run, kRunValueName);
        RegCloseKey(run);
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}
