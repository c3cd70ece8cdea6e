/* TFTP packets and the rules for the names a request may carry: what the
 * TFTP daemon needs that touches no socket, file or window. */
#ifndef QX_SERVERS_LIGHTFILES_TFTP_H
#define QX_SERVERS_LIGHTFILES_TFTP_H

#include <cstdint>
#include <string>

enum TftpOpcode { kTftpRrq = 1, kTftpWrq = 2, kTftpData = 3, kTftpAck = 4, kTftpError = 5 };

enum TftpErrorCode {
  kTftpNotFound = 1,
  kTftpAccess = 2,
  kTftpDiskFull = 3,
  kTftpIllegal = 4,
  kTftpUnknownId = 5,
  kTftpExists = 6,
};

constexpr int kTftpBlock = 512;
constexpr int kTftpDatagram = 1024; /* a datagram is received into this much */

/* The ERROR packet for a code: opcode 5, the code, its text and a NUL. */
std::string TftpErrorPacket(int code);
/* The 4-byte head of a DATA or ACK packet: opcode, block number modulo 65,536. */
void TftpPutHead(unsigned char *packet, int opcode, uint32_t block);
/* A DATA packet (block number modulo 65,536) and an ACK. */
std::string TftpDataPacket(uint32_t block, const char *data, int length);
std::string TftpAckPacket(uint32_t block);

/* The opcode (its second byte only), or 0 for a datagram shorter than 2 bytes. */
int TftpOpcodeOf(const unsigned char *packet, int length);
/* The 16-bit number after the opcode of DATA and ACK; -1 when too short. */
int TftpBlockOf(const unsigned char *packet, int length);

/* The file name of a request: true when name and mode are both NUL-ended
 * inside the datagram; the mode is upper-cased into mode. */
bool TftpRequestName(const unsigned char *packet, int length, std::string *name, std::string *mode);

/* The name below a root as a relative host path: separators "/" either way,
 * a leading separator dropped. False (access violation) for a name that
 * holds "..", a drive letter or device colon, or names nothing. */
bool TftpRelativePath(const std::string &name, std::string *relative);

/* Whether block number b (16 bits on the wire) is the one after current. */
inline bool TftpIsNext(uint32_t current, int wire) { return ((current + 1) & 0xFFFF) == (uint32_t)wire; }

#endif
