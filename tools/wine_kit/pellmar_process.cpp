#include "tools/wine_kit/pellmar_process.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") {
                DeleteFileA((folder + name).c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

PellmarProcess::PellmarProcess() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static int sequence = 0;
    folder_ = std::string(temp) + "pellmar-station-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(sequence++) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
}

PellmarProcess::~PellmarProcess() {
    ui::StopProgram(&program_);
    RemoveFolder(folder_);
}

void PellmarProcess::WriteConfig(const std::vector<uint8_t>& image) const {
    std::ofstream out(ConfigPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
}

std::vector<uint8_t> PellmarProcess::ReadConfig() const {
    std::ifstream in(ConfigPath(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool PellmarProcess::Start(int timeout_ms) {
    return Launch() && WaitForWindow(timeout_ms);
}

bool PellmarProcess::WaitForWindow(int timeout_ms) {
    return ui::WaitForMainWindow(&program_, timeout_ms) != nullptr;
}

bool PellmarProcess::Launch() {
    ui::StopProgram(&program_);
    const std::string exe = folder_ + "pellmar.exe";
    const std::string source =
        program_source_.empty() ? ui::OwnFolder() + "pellmar.exe" : program_source_;
    if (!CopyFileA(source.c_str(), exe.c_str(), FALSE)) {
        return false;
    }
    return ui::StartProgram(exe, folder_, &program_);
}

std::vector<uint8_t> DefaultConfigImage() {
    std::vector<uint8_t> image(1832, 0);
    image[0] = 0x55;
    image[4] = 1;
    image[12] = 1;
    const uint8_t keyer[15] = {0, 16, 5, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, 0, 0};
    std::memcpy(&image[16], keyer, sizeof keyer);
    image[292] = 81;
    return image;
}
