// What the process part of the layer shares with the other parts.
#pragma once

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

}  // namespace qx
