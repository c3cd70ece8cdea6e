// Special attachments: the FTP pointer, the mail-server pointer and the voice
// recording, each kept in global memory blocks whose handle the mail client
// holds in its attachment list as the byte 0x01 and the handle in decimal.
#ifndef QX_ATTACHKIT_SPECIAL_H
#define QX_ATTACHKIT_SPECIAL_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "module.h"

namespace attachkit {

// FTP_POINTER: flags (bit 0 anonymous, bit 1 binary), the lengths of the site,
// directory and file name texts with their NULs, then the three texts.
constexpr size_t kFtpPointerHead = 16;
struct FtpPointer {
  bool anonymous = true, binary = true;
  std::string site, directory, name;
};
HGLOBAL MakeFtpPointer(const FtpPointer &pointer);
// The block's contents, when every length agrees with the block's size and
// every text ends where its length says.
std::optional<FtpPointer> ReadFtpPointer(HGLOBAL block);

// MAIL_POINTER: the server's address, NUL, the command text, NUL.
struct MailPointer {
  std::string server, commands;
};
HGLOBAL MakeMailPointer(const MailPointer &pointer);
std::optional<MailPointer> ReadMailPointer(HGLOBAL block);

// The block named by an attachment entry ("\x01" and the handle's decimal
// value, perhaps followed by a label).
std::optional<HGLOBAL> BlockOfEntry(const char *entry);

// A recording: a chain of blocks, each a wave header (its data pointer, the
// bytes recorded, its own handle as the user word, the next block's header)
// followed by its samples. Calls each with the recorded samples of each block
// in order; false when the chain is damaged (a block that is not what its
// header says, a count past the block, a loop).
bool ForEachRecordedBlock(HGLOBAL first, const std::function<void(const uint8_t *, size_t)> &each);
// Unlocks and frees every block of the chain.
void FreeRecording(HGLOBAL first);

}  // namespace attachkit

#endif
