// errno values mapped to Winsock's WSAE codes, as a table.
#include "../ws_internal.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct Case {
  int err;
  int wsa;
};

const Case kCases[] = {
    {EINTR, 10004},           {EACCES, 10013},        {EPERM, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},          {EMFILE, 10024},        {EAGAIN, 10035},       {EINPROGRESS, 10035},
    {EALREADY, 10037},        {ENOTSOCK, 10038},      {EBADF, 10038},        {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},
    {ENETRESET, 10052},       {ECONNABORTED, 10053},  {ECONNRESET, 10054},   {EPIPE, 10054},
    {ENOBUFS, 10055},         {EISCONN, 10056},       {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},     {ECONNREFUSED, 10061}, {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},     {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
    {EUSERS, 10068},          {EDQUOT, 10069},        {ESTALE, 10070},       {EREMOTE, 10071},
    {ENOENT, 10022},  // nothing better: invalid argument
};

TEST(WinsockErrors, EveryErrnoHasItsWsaeCode) {
  for (const Case &c : kCases) EXPECT_EQ(qx::ws::WsaErrorFromErrno(c.err), c.wsa) << "errno " << c.err;
}

TEST(WinsockErrors, LastErrorIsTheThreadsError) {
  qx::ws::FailErrno(ECONNREFUSED);
  EXPECT_EQ(GetLastError(), 10061u);
  SetLastError(10060);
  EXPECT_EQ(GetLastError(), 10060u);
}

}  // namespace
