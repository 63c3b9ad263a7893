#include "tools/wine_kit/paddle_spacing.h"

#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "keyer/keyer_wire.h"
#include "tools/common/wait_until.h"

namespace {

namespace wire = keyer_wire;

// The paddle code (14 v) the far keyer should get for a report's bits; right wins.
uint8_t InputFor(uint8_t report) {
    constexpr uint8_t kLeftCode = 2;
    constexpr uint8_t kRightCode = 1;
    if ((report & wire::kPaddleRight) != 0) {
        return kRightCode;
    }
    return (report & wire::kPaddleLeft) != 0 ? kLeftCode : 0;
}

std::vector<TimedByte> ReportsSince(const std::vector<TimedByte>& sent, size_t mark) {
    std::vector<TimedByte> reports;
    for (size_t i = mark; i < sent.size(); ++i) {
        if (wire::KindOf(sent[i].byte) == wire::Reply::kPaddle) {
            reports.push_back({sent[i].at_us, InputFor(sent[i].byte)});
        }
    }
    return reports;
}

// Each 14 v as its code and the time its code byte arrived, when the command was whole.
std::vector<TimedByte> InputsSince(const std::vector<TimedByte>& log, size_t mark) {
    std::vector<TimedByte> inputs;
    for (size_t i = mark; i + 1 < log.size(); ++i) {
        if (log[i].byte == wire::kSetPaddleInput) {
            inputs.push_back(log[i + 1]);
            ++i;
        }
    }
    return inputs;
}

// A keyer that takes a newer paddle code before it passed on the one before loses that one,
// so the far inputs are the changes with some left out: each is matched to the next change
// of its code, and only two changes matched one after the other give a spacing.
std::vector<double> SpacingErrorsMs(const std::vector<TimedByte>& changes,
                                    const std::vector<TimedByte>& inputs) {
    std::vector<double> errors;
    size_t next = 0;
    const TimedByte* last_change = nullptr;
    const TimedByte* last_input = nullptr;
    for (const TimedByte& change : changes) {
        if (next == inputs.size() || inputs[next].byte != change.byte) {
            last_change = nullptr;
            continue;
        }
        const TimedByte& input = inputs[next++];
        if (last_change != nullptr) {
            errors.push_back(
                std::fabs((input.at_us - last_input->at_us) - (change.at_us - last_change->at_us)) /
                1000.0);
        }
        last_change = &change;
        last_input = &input;
    }
    return errors;
}

}  // namespace

bool KeyPaddlesAcrossTheLink(KeyerSimControl* home, KeyerSimControl* site, int wpm,
                             const std::string& text, PaddleSpacing* spacing, std::string* error) {
    const size_t home_mark = home->Sent().size();
    const size_t far_mark = site->Logged().size();
    const std::string reply = home->Command("fist " + std::to_string(wpm) + " " + text);
    char* end = nullptr;
    const size_t count = reply.rfind("ok ", 0) == 0 ? std::strtoul(reply.c_str() + 3, &end, 10) : 0;
    if (count == 0) {
        *error = "the fist would not key: " + reply;
        return false;
    }
    Sleep(static_cast<DWORD>(std::strtoul(end, nullptr, 10)));
    std::vector<TimedByte> changes;
    WaitUntil([&] { return (changes = ReportsSince(home->Sent(), home_mark)).size() >= count; },
              std::chrono::seconds(10), std::chrono::milliseconds(100));
    // 3 s: well past the longest playout the site may choose and the line's own delay.
    std::vector<TimedByte> inputs;
    WaitUntil([&] { return (inputs = InputsSince(site->Logged(), far_mark)).size() >= count; },
              std::chrono::seconds(3), std::chrono::milliseconds(100));
    spacing->changes = changes.size();
    spacing->inputs = inputs.size();
    spacing->errors_ms = SpacingErrorsMs(changes, inputs);
    return true;
}

int ShownPaddleDelayMs(const std::string& link_field) {
    const std::string label = "paddles ";
    const size_t at = link_field.find(label);
    if (at == std::string::npos) {
        return -1;
    }
    char* end = nullptr;
    const long ms = std::strtol(link_field.c_str() + at + label.size(), &end, 10);
    return end != link_field.c_str() + at + label.size() && std::string(end).rfind(" ms", 0) == 0
               ? static_cast<int>(ms)
               : -1;
}
