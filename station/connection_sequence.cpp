// The connection sequence: attach the local keyer, then listen as a Net Server or start
// connecting as a Net Client, telling the operator every step in the Connect log. It runs on
// the window's thread, which receives the socket events.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

// The log's texts are built in a 128-byte buffer: a longer one is cut to fit.
std::string Format(const char* format, ...) {
    char buffer[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

const char* SerialFailureReason(int result) {
    switch (result) {
        case kPortStateUnwritable:
            return "SetComState Failed!";
        case kPortStateUnreadable:
            return "GetComState Failed!";
        case kPortOpenFailed:
            return "Comm Open Failed!";
        default:
            return "Unknown Comm Error!";
    }
}

// The address text was once read with inet_addr, whose failure value this is: it stays
// refused as not legal.
const NetAddress kNoIpv4Address = NetAddress::Ipv4(0xFFFFFFFF);

constexpr char kBeginText[] = "\r\n--------------Begin Connect Log------------";
constexpr char kAttachText[] = "\r\nAttach local Tarvel: ";
// A keyer that answers the echo test but not the host open was left in host mode by an
// earlier run: the attach says so and takes it out of host mode before trying again.
constexpr char kLeftInHostModeText[] = "Tarvel left in host mode: closing it";

}  // namespace

bool Station::HasKeyerPort(int port_number) const {
    return KeyerPortPresent(port_number, keyer_port_);
}

// 1 attached, 0 failed (the port is given back, so the next attempt can open it again). A try
// at a keyer that went quiet tells nothing of its steps: every 5 s they would bury the log.
int Station::AttachLocalKeyer(AttachLog telling) {
    const auto tell = [this, telling](const std::string& text) {
        if (telling == AttachLog::kEveryStep) {
            Log(text);
        }
    };
    tell(Format("\r\nopenComm: %d", static_cast<int>(record().com_port)));
    KeyerPortPlace place = keyer_port_;
    place.device = KeyerDevice();
    const int opened = keyer_.port().Open(static_cast<int>(record().com_port), place);
    if (opened != kKeyerOk) {
        tell(SerialFailureReason(opened));
        tell("\r\nCheck com port settings.");
        if (telling == AttachLog::kEveryStep) {
            view_.ShowKeyerPortFailure(keyer_.port().LastOpenFailure());
        }
        if (opened != kPortOpenFailed) {
            keyer_.port().Close();  // opened, then its line settings failed
        }
        return 0;
    }
    tell(kAttachText);
    uint8_t version = 0;
    state_.keyer_lost = false;
    int attached = keyer_.OpenHost(&version);
    if (attached == kKeyerNoVersion) {
        tell(kLeftInHostModeText);
        keyer_.CloseHostLeftOpen();
        tell(kAttachText);
        attached = keyer_.OpenHost(&version);
    }
    if (attached != kKeyerOk) {
        tell(attached == kKeyerNoVersion   ? "Tarvel does not respond"
             : attached == kKeyerWrongEcho ? "Echo Mismatch"
                                           : "No Echo Response");
        keyer_.port().Close();
        return 0;
    }
    tell("\r\nLoad local Tarvel settings...");
    keyer_.LoadSettings(&record().keyer_settings);
    if (!keyer_wire::IsExtendedKeyerVersion(version)) {
        keyer_.SetBaseMode();
    } else {
        keyer_.SetExtendedMode();
    }
    keyer_.SetSidetone(record().keyer_settings.sidetone);
    tell("Done\r\n");
    state_.local_keyer_open = 1;
    view_.ShowLocalKeyer(LocalKeyerState::kOnline, version);
    return 1;
}

namespace {

// Gives up the network stage: the socket (if made) and the library start.
int FailNetworkStage(NetLink& net) {
    net.ReleaseLinkSocket();
    net.ReleaseSocketLibrary();
    return 0;
}

struct BindFailure {
    bool at_socket = false;
    int error = 0;
};

// A listener's socket bound to `address` and held by the link: 0, or kSocketError with the
// call that failed and its error.
int OpenBoundSocket(SocketLoop& sockets, NetLink& net, const NetAddress& address, uint16_t port,
                    BindFailure* failure) {
    const SocketHandle socket = sockets.OpenStream(address.family());
    if (socket == kNoSocket) {
        *failure = {true, SocketLastError()};
        return kSocketError;
    }
    if (sockets.Bind(socket, address, port) != 0) {
        *failure = {false, SocketLastError()};
        sockets.Close(socket);
        return kSocketError;
    }
    net.HoldLinkSocket(socket, LinkSocketUse::kListens);
    return 0;
}

}  // namespace

// The host entry of the address text or of this machine; false after logging why not.
bool Station::FindHost(bool server, HostEntry* entry) {
    bool found = false;
    if (!server || (settings_.NetFlags() & kNetIpAddrOverride) != 0) {
        const std::string address(record().ip_address,
                                  strnlen(record().ip_address, sizeof record().ip_address));
        // An IPv6 literal may begin with a letter (fe80::1), so a literal is recognised first;
        // an IPv4 address in a short or octal form, which the record has always taken, after.
        std::optional<NetAddress> literal = NetAddress::FromText(address);
        if (!literal && !address.empty() && IsAsciiLetter(address[0])) {
            found = sockets_.LookupHostByName(address, entry);
        } else {
            if (!literal) {
                literal = ParseRecordIpv4(address);
            }
            if (!literal || *literal == kNoIpv4Address) {
                Log("\r\nThe IPv4 address entered is not legal");
                return false;
            }
            found = sockets_.LookupHostByAddress(*literal, entry);
            if (!found) {
                // A server without a reverse record is still reachable by its address.
                entry->official_name = literal->Text();
                entry->addresses = {*literal};
                found = true;
            }
        }
    } else {
        char name[128] = {};
        const int result = sockets_.LocalHostName(name, sizeof name);
        if (result != 0) {
            Log(Format("\r\ngethostname: %d", result));
            return false;
        }
        found = sockets_.LookupHostByName(name, entry);
    }
    if (!found || entry->addresses.empty()) {
        const int error = SocketLastError();
        if (error == kSocketErrorHostNotFound) {
            Log("\r\nError: Host not found");
        } else if (error == kSocketErrorNoData) {
            Log("\r\nError: No data record found");
        } else {
            Log(Format("\r\nFunction failed with error: %ld", static_cast<long>(error)));
        }
        return false;
    }
    return true;
}

int Station::OpenConnection() {
    return OpenStages(Attendance::kOperator);
}

int Station::OpenUnattended() {
    return OpenStages(Attendance::kUnattended);
}

int Station::OpenStages(Attendance attendance) {
    StopTryingKeyer();
    Log(kBeginText);
    ReadIniSettings();
    bool keyer_awaited = false;
    LookUpAllowedNames();
    if ((settings_.NetFlags() & kNetLocalKeyerDisabled) == 0 && AttachLocalKeyer() == 0) {
        // Only a device named outright is waited for: a port number may name no port at all.
        if (attendance == Attendance::kOperator || KeyerDevice().empty()) {
            return 0;
        }
        keyer_awaited = true;
    }
    // Before the network stage, whose end a Net Client logs only when its connect ends.
    OpenLoggerPort();
    if (OpenNetworkStage() == 0) {
        if (attendance == Attendance::kOperator || !Reconnects() ||
            link_key_problem_ != LinkKeyProblem::kNone) {
            CloseLoggerPort();
            return 0;
        }
        ScheduleReconnect();
    }
    if (keyer_awaited) {
        TellKeyerRetries();
        TryKeyerAgainLater();
    }
    return 1;
}

int Station::ConnectAgain() {
    Log(kBeginText);
    return OpenNetworkStage();
}

int Station::OpenNetworkStage() {
    const uint32_t net_mode = settings_.NetFlags() & kNetModeMask;
    if (net_mode == kNetModeOff) {
        return 1;
    }
    if (!CheckLinkKeyAtOpen()) {
        return 0;
    }

    Log("\r\nInitializing winsock ");
    const int started = sockets_.Start();
    if (started != 0) {
        Log(Format("\r\nWSAStartup failed: %d", started));
        return 0;
    }
    net_.HoldSocketLibrary();
    const bool server = (net_mode & kNetModeServer) != 0;
    Log(server ? "Server..." : "Client...");

    HostEntry host;
    if (!FindHost(server, &host)) {
        return FailNetworkStage(net_);
    }
    Log(Format("\r\nOfficial name: %s", host.official_name.c_str()));
    Log(Format("\r\nIP: %s", host.addresses.front().Text().c_str()));

    const auto port = static_cast<uint16_t>(record().ip_port & 0xFFFF);
    if (!server) {
        server_addresses_left_ = host.addresses;
        server_port_ = port;
        return StartConnect();
    }
    // Without the override a server takes every address of both families, the machine's
    // name serving only the lines above.
    if ((settings_.NetFlags() & kNetIpAddrOverride) == 0) {
        return ListenForClient(std::nullopt, port);
    }
    return ListenForClient(host.addresses.front(), port);
}

int Station::ListenForClient(const std::optional<NetAddress>& address, uint16_t port) {
    BindFailure failure;
    int bound = OpenBoundSocket(sockets_, net_,
                                address.value_or(NetAddress::Any(NetAddress::Family::kIpv6)), port,
                                &failure);
    if (bound != 0 && !address) {
        // A machine without IPv6 listens on every IPv4 address.
        bound = OpenBoundSocket(sockets_, net_, NetAddress::Any(NetAddress::Family::kIpv4), port,
                                &failure);
    }
    if (bound != 0 && failure.at_socket) {
        Log(Format("\r\nError at socket(): %ld", static_cast<long>(failure.error)));
        return FailNetworkStage(net_);
    }
    Log("\r\nbind()...");
    if (bound != 0) {
        Log("\r\nbind() failed.");
        return FailNetworkStage(net_);
    }
    const SocketHandle socket = net_.LinkSocket();
    view_.ShowNetworkStatus(NetworkStatus::kListening);
    Log("listen()");
    if (sockets_.Listen(socket, 1) != 0) {
        Log("\r\nlisten() failed.");
        return FailNetworkStage(net_);
    }
    Log("\r\nActivate Async Mode");
    if (sockets_.Select(socket, kListenerEvents) != 0) {
        Log("\r\nWSAAsyncSelect() failed.");
        return FailNetworkStage(net_);
    }
    net_.SetPending(true);
    return 1;
}

// A connect that cannot start at one address goes on to the next; only the last one's
// failure is the client's.
int Station::StartConnect() {
    for (;;) {
        connecting_to_ = server_addresses_left_.front();
        server_addresses_left_.erase(server_addresses_left_.begin());
        const SocketHandle socket = sockets_.OpenStream(connecting_to_.family());
        int error = SocketLastError();
        if (socket != kNoSocket) {
            net_.HoldLinkSocket(socket, LinkSocketUse::kConnects);
            Log("\r\nActivate Async Mode");
            if (sockets_.Select(socket, kConnectorEvents) != 0) {
                Log("\r\nWSAAsyncSelect() failed.");
                return FailNetworkStage(net_);
            }
            Log("\r\nConnect to Server");
            if (sockets_.Connect(socket, connecting_to_, server_port_) == 0) {
                return 1;  // connected at once: the connect event still follows
            }
            error = SocketLastError();
            if (error == kSocketErrorWouldBlock) {
                net_.SetPending(true);
                view_.ShowNetworkStatus(NetworkStatus::kConnecting);
                return 1;
            }
        }
        if (server_addresses_left_.empty()) {
            Log(socket == kNoSocket ? Format("\r\nError at socket(): %ld", static_cast<long>(error))
                                    : Format("\r\nconnect() failed: %d", error));
            return FailNetworkStage(net_);
        }
        TellNextServerAddress(error);
        net_.ReleaseLinkSocket();
    }
}

void Station::TellNextServerAddress(int error) {
    Log("\r\nConnect to " + connecting_to_.Text() + " failed: " + std::to_string(error) +
        "; trying " + server_addresses_left_.front().Text());
}

bool Station::ConnectToNextServerAddress(uint16_t error) {
    if (server_addresses_left_.empty()) {
        return false;
    }
    TellNextServerAddress(error);
    net_.ReleaseLinkSocket();
    return StartConnect() == 1;
}
