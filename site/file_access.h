// What the site asks the system about a file beyond reading and writing it.
#pragma once

#include <string>

// True when users besides the file's owner and the site's own group may read the file at
// `path`: the world, or a group the site is not running as. False for a file that is not there.
bool OthersMayRead(const std::string& path);
