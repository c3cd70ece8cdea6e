/* TFTP packets and request names: see tftp.h. */
#include "tftp.h"

#include <cctype>
#include <cstring>

namespace {

const char *const kErrorTexts[] = {
    "",
    "File not found",
    "Access violation",
    "Disk full or allocation exceeded",
    "Illegal TFTP operation",
    "Unknown transfer ID",
    "File already exists",
    "No such user",
};

void Put16(std::string &out, uint32_t value) {
  out += (char)((value >> 8) & 0xFF);
  out += (char)(value & 0xFF);
}

}  // namespace

std::string TftpErrorPacket(int code) {
  std::string packet;
  Put16(packet, kTftpError);
  Put16(packet, (uint32_t)code);
  packet += code >= 1 && code <= 7 ? kErrorTexts[code] : "";
  packet += '\0';
  return packet;
}

void TftpPutHead(unsigned char *packet, int opcode, uint32_t block) {
  packet[0] = (unsigned char)((opcode >> 8) & 0xFF);
  packet[1] = (unsigned char)(opcode & 0xFF);
  packet[2] = (unsigned char)((block >> 8) & 0xFF);
  packet[3] = (unsigned char)(block & 0xFF);
}

std::string TftpDataPacket(uint32_t block, const char *data, int length) {
  unsigned char head[4];
  TftpPutHead(head, kTftpData, block);
  std::string packet((const char *)head, sizeof head);
  if (length > 0) packet.append(data, (size_t)length);
  return packet;
}

std::string TftpAckPacket(uint32_t block) {
  std::string packet;
  Put16(packet, kTftpAck);
  Put16(packet, block & 0xFFFF);
  return packet;
}

int TftpOpcodeOf(const unsigned char *packet, int length) { return length >= 2 ? packet[1] : 0; }

int TftpBlockOf(const unsigned char *packet, int length) { return length >= 4 ? (packet[2] << 8) | packet[3] : -1; }

bool TftpRequestName(const unsigned char *packet, int length, std::string *name, std::string *mode) {
  if (length < 4) return false;
  const char *start = (const char *)packet + 2;
  const size_t room = (size_t)length - 2;
  const void *nameEnd = memchr(start, '\0', room);
  if (!nameEnd) return false;
  const size_t nameLength = (size_t)((const char *)nameEnd - start);
  const char *modeStart = start + nameLength + 1;
  const size_t modeRoom = room - nameLength - 1;
  const void *modeEnd = modeRoom ? memchr(modeStart, '\0', modeRoom) : nullptr;
  if (!modeEnd) return false;
  name->assign(start, nameLength);
  mode->assign(modeStart, (size_t)((const char *)modeEnd - modeStart));
  for (char &c : *mode) c = (char)toupper((unsigned char)c);
  return true;
}

bool TftpRelativePath(const std::string &name, std::string *relative) {
  if (name.find("..") != std::string::npos || name.find(':') != std::string::npos) return false;
  std::string path;
  for (char c : name) path += c == '\\' ? '/' : c;
  size_t start = path.find_first_not_of('/');
  if (start == std::string::npos) return false;
  path.erase(0, start);
  /* Empty components collapse; "." ones name nothing new and are dropped. */
  std::string clean;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    if (!part.empty() && part != ".") clean += (clean.empty() ? "" : "/") + part;
    at = end + 1;
  }
  if (clean.empty() || path.back() == '/') return false; /* a directory, not a file */
  *relative = clean;
  return true;
}
