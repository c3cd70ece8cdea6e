/* The offsets of the NFS client's counter object and its seven counters, in
 * the order of the object's counter definitions (clientcounters.cpp). */
#define NFSCLIENT_OBJECT 0
#define RPC_CALLS 2
#define RPC_RETRANSMISSIONS 4
#define NFS_READS 6
#define NFS_WRITES 8
#define CREDENTIAL_REFRESHES 10
#define NFS_CALLS 12
#define NETWORK_PACKETS 14
