// The words the station is shown in: the texts of the Main window's busy and wait fields,
// which both the local keyer's events and the other station's status packets write; the Tune
// and Pause captions, which the buttons and the end of a link write; and the status lines,
// the link field and the problem boxes, which the headless site writes as log lines too, so
// that its journal reads as the window would.
#pragma once

#include <cstdint>
#include <string>

#include "station/station_view.h"

constexpr const char* kBusyText = "Busy";
constexpr const char* kWaitText = "Wait";
constexpr const char* kBreakInText = "BrkIn";
// A field with nothing to show holds one blank.
constexpr const char* kBlankText = " ";

constexpr const char* kTuneCaption = "Tune";
constexpr const char* kTuneOnCaption = "Off";  // keyed down: the press keys up
constexpr const char* kPauseCaption = "Pause";
constexpr const char* kPauseOnCaption = "Go";  // held: the press goes on

constexpr const char* kLocalKeyerClosedText = "Local Tarvel Closed";
// The keyer's port stopped answering while host mode was open (unplugged), and the station
// closed it.
constexpr const char* kLocalKeyerLostText = "Local Tarvel Lost";

const char* NetworkStatusText(NetworkStatus status);
std::string LocalKeyerText(LocalKeyerState state, uint8_t version);
const char* RemoteKeyerClosedText();
std::string RemoteKeyerText(uint8_t version);
// Empty when not linked.
std::string LinkHealthText(const LinkHealth& health);
// A problem's box: its caption, and its text.
constexpr const char* kProblemCaption = "Error";
const char* ProblemText(Problem problem);
