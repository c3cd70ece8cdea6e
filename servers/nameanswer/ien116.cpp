/* Building IEN 116 replies within fixed buffers. */
#include "ien116.h"

#include <cstring>

const char kUnknownMachine[] = "Unknown machine";

bool Ien116Name(const unsigned char *request, int length, char *name, int nameSize) {
  if (length < 2) return false;
  int n = request[1];
  if (n > length - 2 || n >= nameSize) return false;
  memcpy(name, request + 2, (size_t)n);
  name[n] = '\0';
  return true;
}

int Ien116Reply(const unsigned char *request, const unsigned char *address, unsigned char *reply) {
  int n = request[1]; /* already checked against the bytes received */
  memcpy(reply, request, (size_t)n + 2);
  int at = n + 2;
  if (address) {
    reply[at++] = IEN116_ITEM_ADDRESS;
    reply[at++] = 4;
    memcpy(reply + at, address, 4);
    return at + 4;
  }
  int textLength = (int)strlen(kUnknownMachine);
  reply[at++] = IEN116_ITEM_ERROR;
  reply[at++] = (unsigned char)textLength;
  memcpy(reply + at, kUnknownMachine, (size_t)textLength);
  return at + textLength;
}
