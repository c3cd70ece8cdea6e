// The test side of the layer's automation socket: one command line to a
// running program ("auto-<pid>.sock" in the runtime directory).
#pragma once

#include <string>

namespace qxtest {

// Sends the command to the program with this process id and returns its whole
// answer ("ok ..." or "error ...", several lines for "list") without the
// final newlines; "error ..." when the program cannot be reached. Waits at
// most 10 s for the answer.
std::string AutomationCommand(int pid, const std::string &command);

}  // namespace qxtest
