// What the process part of the layer shares with the other parts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qx {

// The show state the starting process asked for (STARTUPINFO wShowWindow with
// STARTF_USESHOWWINDOW, or WinExec's nCmdShow), handed out once: the first
// ShowWindow of the process calls this and uses the value in place of its own
// argument when it is not -1. Later calls return -1.
int TakeStartupShowState();

// Remembers a child this process started so that it is reaped when it ends
// (never left as a zombie). Takes a pidfd of the child; the layer keeps its
// own copy. Used by CreateProcessA/WinExec and by any part that forks.
void AdoptChild(int pid, int pidfd);

// Windows command lines, as the C runtime splits them into words and as the
// words are quoted back into a line (process/cmdline.cpp).
std::vector<std::string> SplitCommandLine(std::string_view line);
std::string JoinCommandLine(const std::vector<std::string> &words);

// The shell part: when a command line's program word names no program but a
// Windows system program ("NOTEPAD", "DOSPRMPT.PIF"), the desktop program
// that stands for it, as a host program path and a command line for it.
bool SystemProgramCommand(const std::string &command_line, std::string &host_program, std::string &host_line);

}  // namespace qx
