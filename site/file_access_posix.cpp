#include <sys/stat.h>
#include <unistd.h>

#include "site/file_access.h"

bool OthersMayRead(const std::string& path) {
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
        return false;
    }
    return (file.st_mode & S_IROTH) != 0 ||
           ((file.st_mode & S_IRGRP) != 0 && file.st_gid != getegid());
}
