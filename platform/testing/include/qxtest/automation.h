// The test side of the layer's automation socket: one command line to a
// running program ("auto-<pid>.sock" in the runtime directory).
#pragma once

#include <string>
#include <vector>

namespace qxtest {

// Sends the command to the program with this process id and returns its whole
// answer ("ok ..." or "error ...", several lines for "list") without the
// final newlines; "error ..." when the program cannot be reached. Waits at
// most 10 s for the answer.
std::string AutomationCommand(int pid, const std::string &command);

// The command again and again until it answers "ok ..." (a window that is
// still opening), for at most timeout_ms; the last answer either way.
std::string AutomationAwaitOk(int pid, const std::string &command, int timeout_ms = 10000);

// What follows "ok " in an answer (a window handle, a text); "" for an error.
std::string AutomationValue(const std::string &answer);
// The item texts of a list or combo box, one an element; none for an error.
std::vector<std::string> AutomationItems(int pid, const std::string &window);

}  // namespace qxtest
