// The alias library binding and the recipient list: before a message is sent,
// its To, Cc, Bcc and ReDirect fields become the envelope's recipients (alias
// names expanded through the alias library) and the header fields are
// rewritten so that alias names and other transports' addresses appear as
// empty groups ("name:;").
#ifndef QX_MAIL_RECIPIENTS_H
#define QX_MAIL_RECIPIENTS_H

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "nicknames.h"
#include "smtp.h"

// The alias library's entry points: all six, or none.
struct ALIAS_BINDING {
  HMODULE module = nullptr;
  INITIALIZEALIAS InitializeAlias = nullptr;
  FREEUSERCONTEXT FreeUserContext = nullptr;
  ALIASMANAGEMENT AliasManagement = nullptr;
  GETUSERALIASLIST GetUserAliasList = nullptr;
  CHECKALIAS CheckAlias = nullptr;
  GETNEXTALIASEXPANSION GetNextAliasExpansion = nullptr;
  bool bound() const { return module != nullptr; }
};
ALIAS_BINDING &AliasBinding();
// The current user's alias context, or none (no library, or it failed).
extern HGLOBAL g_AliasContext;

// Loads "nicknames.DLL" and takes its six entry points;
// without the library (or with one missing) the client runs without aliases.
void BindAliasLibrary();
// Frees the context and the library (at program exit).
void UnbindAliasLibrary();
// The alias context of a newly opened mailbox (the old one freed first).
void OpenAliasContext(const std::string &mailDir, const std::string &user);

// The alias library's picker (mode ALIAS_MODE_TO, _CC or _BCC): the chosen
// addresses (at most 120 characters), or none when nothing was chosen or
// there is no alias context.
std::optional<std::string> PickAlias(HWND owner, int mode);

// One envelope entry: a bare address, or an alias's expansion to be walked.
struct RECIPIENT {
  std::string address;
  HGLOBAL expansion = nullptr;
};
constexpr size_t kMaxRecipients = 199;  // further items stay in the header only

// The recipient list of one send attempt. Expansions that were not walked
// are given back when the list ends.
class RECIPIENT_LIST {
 public:
  RECIPIENT_LIST() = default;
  ~RECIPIENT_LIST() { Free(); }
  RECIPIENT_LIST(const RECIPIENT_LIST &) = delete;
  RECIPIENT_LIST &operator=(const RECIPIENT_LIST &) = delete;
  RECIPIENT_LIST(RECIPIENT_LIST &&other) noexcept : entries(std::move(other.entries)) { other.entries.clear(); }
  void Free();
  std::vector<RECIPIENT> entries;
};

// Rewrites To, Cc, Bcc and ReDirect of header (in that order) and returns the
// recipients they name. Running it again on its own result gives the same
// header (a group's ":;" is removed and added back).
RECIPIENT_LIST BuildRecipients(SEND_HEADER &header);
// One address list rewritten, its items added to list; none stays none.
std::optional<std::string> RewriteAddressList(const std::optional<std::string> &text, RECIPIENT_LIST &list);
// Adds item (trimmed, a trailing ":;" removed) to list; true when the header
// shows it as a group: an alias, or an address of another transport.
bool ExpandRecipient(RECIPIENT_LIST &list, std::string &item);
void AddRecipient(RECIPIENT_LIST &list, const std::string &item);
// The envelope addresses, each alias walked to its members (once: a walked
// expansion is gone).
std::vector<std::string> EnvelopeAddresses(RECIPIENT_LIST &list);

#endif
