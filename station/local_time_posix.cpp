#include "station/local_time.h"

bool LocalTimeOf(std::time_t when, std::tm* local) {
    return localtime_r(&when, local) != nullptr;
}
