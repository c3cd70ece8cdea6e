// READDIR: a directory listed in pieces that fit the client's byte count.
//
// A cookie names a place in the listing, not a count of entries: entries are
// ordered by a 32-bit key made from their name, each entry's cookie is its
// key, and a continuation returns the entries whose key follows the cookie.
// So an entry that stays in the directory is returned exactly once however
// many others are added or removed between the calls. "." and ".." come
// first with the cookies 1 and 2; the long-name table is never listed.
//
// Up to 8 search slots keep a directory's ordered names between calls; a
// slot is read again when the directory changed since.
#pragma once

#include <cstdint>
#include <string>

#include "nfsfiles.h"
#include "xdr.h"

constexpr int kSearchSlots = 8;

// The reply body (status, entries, end word, eof) into out: NFS_OK, or an NFS status.
int NfsReaddir(ResolvedHandle &dir, uint32_t cookie, uint32_t count, XdrWriter &out);
// The cookie of a name (3 and up; 0, 1 and 2 are the start, "." and "..").
uint32_t ReaddirCookie(const std::string &name);
// Drops every slot's names (a procedure changed some directory).
void ForgetSearchSlots();
