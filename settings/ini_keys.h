// Every key of the `.ini` file beside the configuration file, in one table: its section, its
// name, what its value must be and what holds without it. Whoever reads a key names its row
// here and reads it through IniSettings (ini_file.h), which checks the value by the row's kind
// and words the Connect log's line for one that fails the check; so a key is spelled,
// defaulted and checked in one place.
#pragma once

#include <cstdint>
#include <string_view>

// What a key's value must be.
enum class IniValueKind {
    kText,                // anything, taken as written
    kAddresses,           // the allow list's entries (net/allow_list.h), which the allow list reads
    kYesNo,               // yes/no, true/false, on/off or 1/0, in any case
    kSeconds,             // a whole number of seconds from 0 to the row's `most`
    kCoordinate,          // whole screen pixels, negative left of or above the main screen
    kPort,                // a UDP or TCP port number, 0 to 65535
    kAutoOrMilliseconds,  // auto, or a whole number of milliseconds from 0 to the row's `most`
};

struct IniKey {
    std::string_view section;
    std::string_view name;
    IniValueKind kind;
    // What holds while the key is not there, as an operator would write it; a value that fails
    // its check gets it too, and the Connect log says so. Empty: nothing, for the reader to
    // decide.
    std::string_view fallback;
    // The largest value of a kSeconds or kAutoOrMilliseconds key.
    uint32_t most = 0;
};

namespace ini_keys {

// Who may link to a Net Server. Without it: loopback, the private ranges and link-local, of
// both families (IPv6's private range is the unique local one). The
// shared range of carrier-grade NAT is not among them: a carrier shares it among its customers,
// so an overlay VPN that uses it must be named.
inline constexpr IniKey kAllowFrom{
    "Network", "AllowFrom", IniValueKind::kAddresses,
    "127.0.0.0/8, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, 169.254.0.0/16, ::1, fc00::/7, "
    "fe80::/10"};
// The link key two stations share (net/link_key.h), as 64 hexadecimal digits. Without it, a
// station links as it always did. The program writes it only when asked to make one, and only
// where there is none.
inline constexpr IniKey kKey{"Network", "Key", IniValueKind::kText, ""};
// Whether a Net Client whose link ended tries its server again by itself.
inline constexpr IniKey kReconnect{"Network", "Reconnect", IniValueKind::kYesNo, "yes"};
// How far behind the other station's paddles are played out here (net/paddle_playout.h):
// auto sizes it from the jitter the link shows; 0 applies each change as it arrives.
inline constexpr IniKey kPaddleDelay{"Network", "PaddleDelay", IniValueKind::kAutoOrMilliseconds,
                                     "auto", 250};

// An hour: longer than anyone keys by hand, short enough to bound a forgotten key-down.
inline constexpr uint32_t kLimitLongestSeconds = 3600;
// How long Tune and paddle input that came over the link may hold the key at a RemoteSide;
// 0 means no limit.
inline constexpr IniKey kTuneLimitSeconds{"Safety", "TuneLimitSeconds", IniValueKind::kSeconds,
                                          "30", kLimitLongestSeconds};
inline constexpr IniKey kPaddleLimitSeconds{"Safety", "PaddleLimitSeconds", IniValueKind::kSeconds,
                                            "15", kLimitLongestSeconds};
// How much of any minute Tune, paddles and PTT from the link may together hold a RemoteSide's
// key or PTT down; 0, like the whole minute, means no budget.
inline constexpr IniKey kKeyDownSecondsPerMinute{"Safety", "KeyDownSecondsPerMinute",
                                                 IniValueKind::kSeconds, "30", 60};

// The keyer's device, which the record's COM port number cannot name: a site's serial device
// on the host build. Without it, the COM port number names the port.
inline constexpr IniKey kKeyerDevice{"Keyer", "Device", IniValueKind::kText, ""};

// Where the logger port (station/logger_port.h) listens for a logging program's requests; a
// port of 0 turns it off. The address is loopback unless the operator names another, which
// AllowFrom then guards.
inline constexpr IniKey kLoggerPort{"Logger", "Port", IniValueKind::kPort, "6789"};
inline constexpr IniKey kLoggerAddress{"Logger", "Address", IniValueKind::kText, "127.0.0.1"};

// Where the Main window opens: its top-left corner, which the program itself keeps here.
// Without them, or with a value that is not a coordinate, it opens centred.
inline constexpr IniKey kWindowLeft{"Window", "Left", IniValueKind::kCoordinate, ""};
inline constexpr IniKey kWindowTop{"Window", "Top", IniValueKind::kCoordinate, ""};

}  // namespace ini_keys
