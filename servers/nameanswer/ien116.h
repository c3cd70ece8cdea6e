/* IEN 116 replies: the request's type, length and name echoed, then an
 * address item or an error item. */
#ifndef QX_SERVERS_IEN116_H
#define QX_SERVERS_IEN116_H

#define IEN116_REQUEST_MAX 80 /* bytes received of one request */
#define IEN116_REPLY_MAX 128
#define IEN116_ITEM_ADDRESS 2
#define IEN116_ITEM_ERROR 3

extern const char kUnknownMachine[];

/* The name of a request as a C string; false when the length byte points
 * past the bytes received (such a request is dropped). */
bool Ien116Name(const unsigned char *request, int length, char *name, int nameSize);
/* Builds the reply; address is 4 bytes in network order or null for an unknown
 * name. Returns the reply's length. */
int Ien116Reply(const unsigned char *request, const unsigned char *address, unsigned char *reply);

#endif
