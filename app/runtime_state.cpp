#include "app/runtime_state.h"

std::atomic<int32_t> net_connected{0};
std::atomic<int32_t> net_pending{0};
std::atomic<int32_t> remote_busy{0};
std::atomic<int32_t> local_keyer_open{0};
std::atomic<int32_t> pot_speed_active{0};
std::atomic<uint8_t> pot_wpm{0};
std::atomic<uint8_t> pause_on{0};
std::atomic<uint8_t> tune_on{0};
std::atomic<uint8_t> heartbeat_count{0};
std::atomic<int32_t> sending_message{0};
std::atomic<const char*> message_cursor{nullptr};
std::atomic<int32_t> editor_message{0};

std::string program_path;
std::string config_path;
std::string os_name;
