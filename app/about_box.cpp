#include "app/about_box.h"

#include <cstdio>

#include "app/build_stamp.h"
#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "app/startup_paths.h"
#include "version/version.h"

namespace {

// Each line is formatted into a buffer of this size; a longer line is cut rather than let
// run past it.
constexpr std::size_t kLineBuffer = 64;

}  // namespace

std::vector<DialogText> FormatAboutTexts(const char* version, const char* build_time,
                                         const char* build_date, const std::string& os_name) {
    char version_line[kLineBuffer];
    std::snprintf(version_line, sizeof version_line, "Ver %s, Built %s, %s ", version, build_time,
                  build_date);
    char os_line[kLineBuffer];
    std::snprintf(os_line, sizeof os_line, "Operating System is %s", os_name.c_str());
    return {{IDC_ABOUT_TITLE, PELLMAR_ABOUT_TITLE},
            {IDC_ABOUT_VERSION, version_line},
            {IDC_ABOUT_OS, os_line}};
}

std::vector<DialogText> AboutTexts() {
    return FormatAboutTexts(PELLMAR_VERSION_TEXT, kBuildTime, kBuildDate, os_name);
}
