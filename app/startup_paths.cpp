#include "app/startup_paths.h"

std::string os_name;

std::string ConfigPathFor(const std::string& program_file) {
    const std::size_t name_start = program_file.find_last_of("\\/:");
    const std::size_t dot = program_file.rfind('.');
    const bool has_extension =
        dot != std::string::npos && (name_start == std::string::npos || dot > name_start);
    if (!has_extension) {
        return program_file + ".cfg";
    }
    return program_file.substr(0, dot + 1) + "cfg";
}

StartupTexts DeriveStartupTexts(int platform_id, const std::string& module_path) {
    StartupTexts texts;
    if (platform_id == kPlatformWin9x) {
        texts.program_path = "\\Program Files\\pellmar\\pellmar.exe";
        texts.os_name = "Win95/Win98";
    } else {
        texts.program_path = module_path;
        texts.os_name = "WinNT/WinXP";
    }
    texts.config_path = ConfigPathFor(texts.program_path);
    return texts;
}
