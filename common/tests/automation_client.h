// The test side of the layer's automation socket.
#pragma once
#include <string>

namespace commontest {
// Sends one command line to the program with this process id; the answer
// line ("ok ..." or "error ...") without its newline.
std::string AutomationCommand(int pid, const std::string &command);
}  // namespace commontest
