// The logger port: a logging or contest program on this machine (or, where the operator
// names another address, on the network) sends text to key and a few settings as UDP
// datagrams. Each request is carried out as the operator's own command would be: text as
// pasted text, the speed as the speed entry, an abort as the Clear button, a tune as Tune.
// Nothing a logger sends is refused as busy, ends the station or is told in the Connect log
// more than once.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "net/allow_list.h"
#include "net/logger_request.h"
#include "settings/ini_keys.h"
#include "station/station.h"

namespace {

std::string PlaceText(const NetAddress& address, uint16_t port) {
    const std::string host = address.IsIpv6() ? "[" + address.Text() + "]" : address.Text();
    return host + ":" + std::to_string(port);
}

}  // namespace

std::optional<std::string> Station::TakeLoggerPlace(IniSettings& ini) {
    // A station made without a configuration file (a test's, a bench's, the fuzzer's) is no
    // operator's: no logger sends to it, and it takes no port of the machine's.
    logger_.port = settings_.config_path().empty() ? 0 : ini.Port(ini_keys::kLoggerPort);
    const std::string written = ini.Text(ini_keys::kLoggerAddress);
    if (const std::optional<NetAddress> address = NetAddress::FromText(written)) {
        logger_.address = *address;
        return std::nullopt;
    }
    logger_.address = *NetAddress::FromText(ini_keys::kLoggerAddress.fallback);
    return "[Logger] Address \"" + written + "\" is not an address; " +
           std::string(ini_keys::kLoggerAddress.fallback) + " is used.";
}

void Station::OpenLoggerPort() {
    if (logger_.port == 0) {
        return;
    }
    const std::string place = PlaceText(logger_.address, logger_.port);
    const int error = logger_.socket.Open(logger_.address, logger_.port);
    if (error == 0) {
        Log("\r\nLogger port " + place + " open.");
    } else {
        TellLoggerProblemOnce("open " + place, "Logger port " + place + " could not open (error " +
                                                   std::to_string(error) +
                                                   "); the station goes on without it.");
    }
}

void Station::CloseLoggerPort() {
    SendLoggerReplyNow();
    logger_.socket.Close();
    logger_.tune_ends.reset();
}

void Station::TellLoggerProblemOnce(const std::string& kind, const std::string& line) {
    if (logger_.told.insert(kind).second) {
        Log("\r\n" + line);
    }
}

void Station::OnLoggerDatagram() {
    LoggerDatagram datagram;
    if (!logger_.socket.Receive(&datagram)) {
        return;
    }
    // Bound to loopback, the port hears this machine alone; bound elsewhere, whom AllowFrom
    // lets link may send too.
    const AllowList loopback = AllowList::LoopbackOnly();
    const bool listens_on_loopback = loopback.Allows(logger_.address);
    if (!(listens_on_loopback ? loopback : allow_from_).Allows(datagram.from)) {
        // One line for all of them: a flood from ever new addresses writes no more.
        TellLoggerProblemOnce("stranger", "Logger port: datagrams from " + datagram.from.Text() +
                                              " are dropped; AllowFrom does not name it.");
        return;
    }
    const LoggerRequest request =
        datagram.too_long ? LoggerDatagramTooLong()
                          : ParseLoggerRequest(datagram.bytes.data(), datagram.bytes.size());
    TakeLoggerRequest(request, datagram);
}

void Station::TakeLoggerRequest(const LoggerRequest& request, const LoggerDatagram& datagram) {
    switch (request.kind) {
        case LoggerRequest::Kind::kText:
            QueueLoggerText(request.text);
            break;
        case LoggerRequest::Kind::kReset:
            if (logger_.speed_at_start != 0) {
                SetLoggerSpeed(logger_.speed_at_start);
            }
            TuneFromLogger(0);
            logger_.reply.Forget();
            break;
        case LoggerRequest::Kind::kSpeed:
            SetLoggerSpeed(request.value);
            break;
        case LoggerRequest::Kind::kAbort:
            Clear();
            break;
        case LoggerRequest::Kind::kTune:
            TuneFromLogger(request.value);
            break;
        case LoggerRequest::Kind::kReplyWhenDone:
            logger_.reply.Ask(request.text, datagram.from, datagram.from_port, logger_.in_flight);
            break;
        case LoggerRequest::Kind::kRefused:
            TellLoggerProblemOnce(request.problem_kind, request.problem);
            break;
        case LoggerRequest::Kind::kIgnored:
            break;
    }
}

void Station::QueueLoggerText(const std::string& text) {
    if (!RoleAcceptsLocalKeying()) {
        TellLoggerProblemOnce("role",
                              "Logger port: text was dropped; linked in this role, the "
                              "other station does the keying.");
        return;
    }
    if (!QueueTextInTurn(text)) {
        TellLoggerProblemOnce("full",
                              "Logger port: text was dropped; as much text as the "
                              "station holds was already waiting to be sent.");
    }
}

// In the protocol's range rather than the speed pot's: a logger steps its speed in its own
// range, and the keyer takes any speed in it.
void Station::SetLoggerSpeed(int wpm) {
    if (state_.pot_speed_active.load() != 0) {
        TellLoggerProblemOnce("pot",
                              "Logger port: a speed request was ignored; the speed pot "
                              "sets the speed.");
        return;
    }
    record().keyer_settings.wpm = static_cast<uint8_t>(wpm);
    ApplySpeed();
    view_.ShowSpeed(record().keyer_settings.wpm);
}

void Station::TuneFromLogger(int seconds) {
    logger_.tune_ends.reset();
    if (!RoleAcceptsLocalKeying()) {
        return;
    }
    if (seconds == 0) {
        if (IsTuneOn()) {
            SetTune(false);
        }
        return;
    }
    uint32_t allowed = static_cast<uint32_t>(seconds);
    if (limits_.tune_seconds != 0) {
        allowed = std::min(allowed, limits_.tune_seconds);
    }
    SetTune(true);
    logger_.tune_ends = std::chrono::steady_clock::now() + std::chrono::seconds(allowed);
}

void Station::HandedOnForKeying() {
    ++logger_.in_flight;
    logger_.reply.HandedOn(logger_.in_flight);
}

void Station::FollowLoggerPort() {
    const uint32_t echoes = state_.keyed_echoes.exchange(0);
    logger_.in_flight -= std::min(logger_.in_flight, echoes);
    logger_.reply.Echoed(echoes);
    if (const std::optional<LoggerReplyTo> reply = logger_.reply.TakeIfKeyed()) {
        logger_.socket.Send(reply->datagram, reply->address, reply->port);
    }
    if (logger_.tune_ends && std::chrono::steady_clock::now() >= *logger_.tune_ends) {
        TuneFromLogger(0);
    }
}

void Station::SendLoggerReplyNow() {
    // What waited to echo never will.
    logger_.in_flight = 0;
    state_.keyed_echoes = 0;
    if (const std::optional<LoggerReplyTo> reply = logger_.reply.TakeNow()) {
        if (logger_.socket.IsOpen()) {
            logger_.socket.Send(reply->datagram, reply->address, reply->port);
        }
    }
}
