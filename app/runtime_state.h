// The runtime state that the Main window, the keyer threads, the network handlers and the
// message sender share. Each is one aligned word read and written whole, without a lock;
// hand-overs between threads go by these flags alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

extern std::atomic<int32_t> net_connected;
extern std::atomic<int32_t> net_pending;
extern std::atomic<int32_t> remote_busy;
extern std::atomic<int32_t> local_keyer_open;
extern std::atomic<int32_t> pot_speed_active;
extern std::atomic<uint8_t> pot_wpm;
extern std::atomic<uint8_t> pause_on;
extern std::atomic<uint8_t> tune_on;
extern std::atomic<uint8_t> heartbeat_count;
extern std::atomic<int32_t> sending_message;
extern std::atomic<const char*> message_cursor;
extern std::atomic<int32_t> editor_message;

// Fixed by program start before any other thread exists, and never changed afterwards.
extern std::string program_path;
extern std::string config_path;
extern std::string os_name;
