// The About box's texts: the program's title, its version and build, and the operating
// system found at start.
#pragma once

#include <string>
#include <vector>

struct DialogText {
    int id;
    std::string text;
};

// The texts in the order the box sets them: title, version line, operating-system line.
std::vector<DialogText> FormatAboutTexts(const char* version, const char* build_time,
                                         const char* build_date, const std::string& os_name);
// The texts of this program: its version, its build stamp and `os_name`.
std::vector<DialogText> AboutTexts();
