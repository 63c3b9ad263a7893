// "Make a Link Key..." in the Main window's system menu: the Windows program's way to make a
// link key without a command line.
#pragma once

#include <windows.h>

#include <string>

// Makes a key, writes it into the .ini beside `config_path`, and shows the box (template 1005)
// over `owner` saying where it went and the line to copy, or why there is none; returns when
// the operator ends the box.
void RunLinkKeyBox(HWND owner, const std::string& config_path);
