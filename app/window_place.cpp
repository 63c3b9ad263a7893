#include "app/window_place.h"

#include <algorithm>

#include "settings/ini_file.h"
#include "settings/ini_keys.h"

std::optional<WindowPlace> KeptWindowPlace(const std::string& config_path) {
    const IniSettings ini = ReadIniFile(IniPathFor(config_path));
    const std::optional<int> left = ini.Coordinate(ini_keys::kWindowLeft);
    const std::optional<int> top = ini.Coordinate(ini_keys::kWindowTop);
    if (!left || !top) {
        return std::nullopt;
    }
    return WindowPlace{*left, *top};
}

bool KeepWindowPlace(const std::string& config_path, WindowPlace place) {
    static_assert(ini_keys::kWindowLeft.section == ini_keys::kWindowTop.section,
                  "the place is one section's two settings");
    return WriteIniSection(IniPathFor(config_path), ini_keys::kWindowLeft.section,
                           {{std::string(ini_keys::kWindowLeft.name), std::to_string(place.left)},
                            {std::string(ini_keys::kWindowTop.name), std::to_string(place.top)}});
}

WindowPlace CentredIn(const WorkArea& work, int width, int height) {
    return {work.left + (work.right - work.left - width) / 2,
            work.top + (work.bottom - work.top - height) / 2};
}

WindowPlace BroughtInto(const WorkArea& work, WindowPlace place, int width, int height) {
    return {std::max(work.left, std::min(place.left, work.right - width)),
            std::max(work.top, std::min(place.top, work.bottom - height))};
}
