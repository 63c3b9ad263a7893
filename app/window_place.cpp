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

std::optional<PixelSize> KeptWindowSize(const std::string& config_path, PixelSize smallest,
                                        const WorkArea& work) {
    const IniSettings ini = ReadIniFile(IniPathFor(config_path));
    const std::optional<int> width = ini.Coordinate(ini_keys::kWindowWidth);
    const std::optional<int> height = ini.Coordinate(ini_keys::kWindowHeight);
    if (!width || !height || *width < smallest.width || *height < smallest.height ||
        *width > work.right - work.left || *height > work.bottom - work.top) {
        return std::nullopt;
    }
    return PixelSize{*width, *height};
}

bool KeepWindowPlace(const std::string& config_path, WindowPlace place, PixelSize size) {
    using ini_keys::kWindowHeight;
    using ini_keys::kWindowLeft;
    using ini_keys::kWindowTop;
    using ini_keys::kWindowWidth;
    static_assert(kWindowLeft.section == kWindowTop.section &&
                      kWindowLeft.section == kWindowWidth.section &&
                      kWindowLeft.section == kWindowHeight.section,
                  "the place and the size are one section's settings");
    return WriteIniSection(IniPathFor(config_path), kWindowLeft.section,
                           {{std::string(kWindowLeft.name), std::to_string(place.left)},
                            {std::string(kWindowTop.name), std::to_string(place.top)},
                            {std::string(kWindowWidth.name), std::to_string(size.width)},
                            {std::string(kWindowHeight.name), std::to_string(size.height)}});
}

WindowPlace CentredIn(const WorkArea& work, int width, int height) {
    return {work.left + (work.right - work.left - width) / 2,
            work.top + (work.bottom - work.top - height) / 2};
}

WindowPlace BroughtInto(const WorkArea& work, WindowPlace place, int width, int height) {
    return {std::max(work.left, std::min(place.left, work.right - width)),
            std::max(work.top, std::min(place.top, work.bottom - height))};
}
