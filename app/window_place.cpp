#include "app/window_place.h"

#include <algorithm>
#include <cstdint>

#include "settings/field_number.h"
#include "settings/ini_file.h"

namespace {

constexpr char kSection[] = "Window";
constexpr char kLeftKey[] = "Left";
constexpr char kTopKey[] = "Top";
// Far beyond any screen; more digits than this are no coordinate.
constexpr std::size_t kCoordinateDigits = 6;

std::optional<int> Coordinate(const IniSettings& ini, const char* key) {
    const std::optional<std::string> value = ini.Value(kSection, key);
    if (!value) {
        return std::nullopt;
    }
    const bool negative = !value->empty() && value->front() == '-';
    const std::optional<uint32_t> size =
        UnsignedFromText(value->substr(negative ? 1 : 0), kCoordinateDigits);
    if (!size) {
        return std::nullopt;
    }
    return negative ? -static_cast<int>(*size) : static_cast<int>(*size);
}

}  // namespace

std::optional<WindowPlace> KeptWindowPlace(const std::string& config_path) {
    const IniSettings ini = ReadIniFile(IniPathFor(config_path));
    const std::optional<int> left = Coordinate(ini, kLeftKey);
    const std::optional<int> top = Coordinate(ini, kTopKey);
    if (!left || !top) {
        return std::nullopt;
    }
    return WindowPlace{*left, *top};
}

bool KeepWindowPlace(const std::string& config_path, WindowPlace place) {
    return WriteIniSection(
        IniPathFor(config_path), kSection,
        {{kLeftKey, std::to_string(place.left)}, {kTopKey, std::to_string(place.top)}});
}

WindowPlace CentredIn(const WorkArea& work, int width, int height) {
    return {work.left + (work.right - work.left - width) / 2,
            work.top + (work.bottom - work.top - height) / 2};
}

WindowPlace BroughtInto(const WorkArea& work, WindowPlace place, int width, int height) {
    return {std::max(work.left, std::min(place.left, work.right - width)),
            std::max(work.top, std::min(place.top, work.bottom - height))};
}
