// Every composition starts here: the send header filled with what a reply,
// reply to all or forward inherits from the selected messages, or with what
// another program handed over through Simple MAPI; then the compose dialog.
#ifndef QX_MAIL_STARTCOMPOSE_H
#define QX_MAIL_STARTCOMPOSE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "block.h"

// The Simple MAPI hand-off of this run (MAPI mode while set).
struct MAPI_RECEIVER {
  HANDLE mapping = nullptr;
  uint8_t *view = nullptr;
  mailbridge::Request request;
  bool valid = false;   // the block was well formed
  uint32_t result = 2;  // what the caller is told: 0 sent or queued, 1 cancelled, 2 failed
};
extern std::optional<MAPI_RECEIVER> g_Mapi;

// Opens the hand-off block named by argument ("@low:high", cut at its first
// blank). True (MAPI mode) when the block exists; its user name and password
// (empty when it has none) replace user and password. False when argument
// is an ordinary user name.
bool OpenHandoffBlock(const std::string &argument, std::string &user, std::string &password);
// At exit in MAPI mode: the result word written and the library's hidden
// window closed, so that the calling program goes on.
void ReleaseHandoffBlock();

// Fills the send header for mode from the selected messages of folder (and
// in MAPI mode from the block), runs the compose dialog and clears the send
// header again. Returns the compose dialog's outcome.
INT_PTR StartCompose(HWND owner, int mode, const std::string &folder, const std::vector<int32_t> &numbers);
// The compose dialog on a queued message the server refused (the send
// header holds its header file): its prepared body is sent as it is.
void ComposeFromQueue(HWND owner, const std::string &bodyPath);
void AddReplyAddresses(int mode, const std::string &folder, int32_t number);
// Adds text to a comma-separated list unless the list holds it as a whole item.
void AppendToList(std::optional<std::string> &field, const std::string &text);

#endif
