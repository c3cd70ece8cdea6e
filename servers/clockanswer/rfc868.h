/* The RFC 868 time value: seconds since 1 January 1900 UTC, modulo 2^32. */
#ifndef QX_SERVERS_RFC868_H
#define QX_SERVERS_RFC868_H

#define RFC868_EPOCH_OFFSET 2208988800LL /* seconds from 1900 to 1970 */

/* The four big-endian bytes for a Unix time. */
inline void Rfc868Bytes(long long unixTime, unsigned char out[4]) {
  unsigned long long value = (unsigned long long)(unixTime + RFC868_EPOCH_OFFSET) & 0xFFFFFFFFULL;
  out[0] = (unsigned char)(value >> 24);
  out[1] = (unsigned char)(value >> 16);
  out[2] = (unsigned char)(value >> 8);
  out[3] = (unsigned char)value;
}

#endif
