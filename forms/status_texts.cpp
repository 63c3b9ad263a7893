#include "forms/status_texts.h"

#include <cstdio>

#include "net/net_address.h"

const char* NetworkStatusText(NetworkStatus status) {
    switch (status) {
        case NetworkStatus::kNoConnection:
            return "No Network Connection";
        case NetworkStatus::kListening:
            return "Listening for Request....";
        case NetworkStatus::kConnecting:
            return "Waiting...";
        case NetworkStatus::kLinkedToClient:
            return "Connected to Client.";
        case NetworkStatus::kLinkedToServer:
            return "Connected to server.";
        case NetworkStatus::kLinkEnded:
            return "Connection Closed";
        case NetworkStatus::kConnectFailed:
            return "Failed to connect";
        case NetworkStatus::kClosedByOperator:
            return "Network Connection Closed";
        case NetworkStatus::kWaitingToListen:
            return "Waiting 30 s to listen";
    }
    return "";
}

std::string LocalKeyerText(LocalKeyerState state, uint8_t version) {
    switch (state) {
        case LocalKeyerState::kOnline: {
            char text[64];
            std::snprintf(text, sizeof text, "Local Tarvel V%d OnLine", version);
            return text;
        }
        case LocalKeyerState::kLost:
            return kLocalKeyerLostText;
        case LocalKeyerState::kClosed:
            break;
    }
    return kLocalKeyerClosedText;
}

namespace {

std::string LinkHealthWithoutKey(const LinkHealth& health) {
    switch (health.kind) {
        case LinkHealth::Kind::kRoundTrip:
            return "Link " + std::to_string(health.round_trip_ms) + " ms" +
                   (health.paddle_delay_ms
                        ? ", paddles " + std::to_string(*health.paddle_delay_ms) + " ms"
                        : "");
        case LinkHealth::Kind::kSilent:
            return "Link -";
        case LinkHealth::Kind::kClientAddress:
            return "Client " + health.address.Text();
        case LinkHealth::Kind::kServerAddress:
            return "Server " + health.address.Text();
        case LinkHealth::Kind::kNone:
            break;
    }
    return "";
}

}  // namespace

std::string LinkHealthText(const LinkHealth& health) {
    const std::string text = LinkHealthWithoutKey(health);
    return health.keyed && !text.empty() ? text + ", key" : text;
}

const char* RemoteKeyerClosedText() {
    return "Remote Tarvel Closed";
}

std::string RemoteKeyerText(uint8_t version) {
    return "Remote Tarvel Ver:" + std::to_string(version);
}

const char* ProblemText(Problem problem) {
    switch (problem) {
        case Problem::kConfigNotSaved:
            return "Save State Failed.";
        case Problem::kMessageBadCommand:
            return "Bad Buf Msg Cmd";
        case Problem::kMessageTokenMismatch:
            return "Message Token Mismatch";
    }
    return "";
}
