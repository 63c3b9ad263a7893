#include "station/log_file.h"

std::string_view LogFileLineEnd() {
    return "\n";
}
