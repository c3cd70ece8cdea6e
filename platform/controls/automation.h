// Automation of controls, menus and dialogs (see automation.cpp for the commands).
#pragma once

#include <windows.h>

#include <string>

namespace qx::controls {

// Runs one command on a window of this process (call on its thread); "ok ..."
// or "error ...", or empty when the verb is not one of these commands.
std::string ControlCommand(const std::string &verb, HWND hwnd, const std::string &rest);

}  // namespace qx::controls
