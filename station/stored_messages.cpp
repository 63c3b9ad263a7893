// The stored messages as the Message Editor reads and writes them.
#include <string>

#include "messages/message_sender.h"
#include "station/settings_file.h"
#include "station/station.h"

std::string Station::StoredMessage(int number) {
    return sender_.StoredText(number);
}

void Station::StoreMessage(int number, const std::string& text) {
    sender_.StoreText(number, text);
}

void Station::SaveMessage(int number, const std::string& text) {
    StoreMessage(number, text);
    SaveSettingsFile(settings_, view_);
}
