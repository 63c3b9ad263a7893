// The program's start-up entry in the registry: see app/start_with_windows.h.
#pragma once

#include <optional>
#include <string>

#include "app/start_with_windows.h"

// The user's start-up entries, which Windows runs at each logon of that user, and the
// program's value among them.
inline constexpr char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValueName[] = "Pellmar";

// The value under HKEY_CURRENT_USER.
class RunKeyEntry final : public StartupEntry {
  public:
    // A value that cannot be read counts as none: a refusal then shows on the write.
    std::optional<std::string> Command() override;
    long Write(const std::string& command) override;
    long Remove() override;
};
