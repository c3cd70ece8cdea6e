/* The LPD daemon's rules apart from its sockets and the spooler: the queue
 * name's prefixes, the counts of the file subcommands, the LF to CR LF
 * conversion and the form feed at the end of a job, and the reader of
 * command lines and data from a byte source. */
#ifndef QX_SERVERS_LPDRULES_H
#define QX_SERVERS_LPDRULES_H

#include <cstdint>
#include <functional>
#include <string>

#define LPD_RECEIVE_BUFFER 1461 /* one receive at most */
#define LPD_LINE_MAX 1463       /* a command line longer than this is refused */
#define LPD_MAX_FILE_BYTES 0x7FFFFFFFull
#define LPD_ACK '\0'
#define LPD_REFUSE '\1'

/* What the queue name says: the printer, and whether LF becomes CR LF (U)
 * and the job ends with a form feed (F). */
struct LpdQueue {
  std::string printer;
  bool convertLf = false;
  bool formFeed = true;
};
/* Cuts the first matching prefix ("UNIXFF-", "D_", ...: case ignored) off
 * the queue name; without one, F only. */
LpdQueue LpdParseQueue(const std::string &queueName);

/* The count and name of a control or data file subcommand (the text after
 * its command byte): a decimal count of at most LPD_MAX_FILE_BYTES, white
 * space, a name. False for anything else (a sign, letters, an overflowing
 * or missing count, no name). */
bool LpdParseFileLine(const std::string &text, uint64_t *count, std::string *name);

/* The queue-state reply: the heading, then the line for the job count
 * ("There is currently 1 job ...", "There are currently N jobs ..."). */
std::string LpdQueueState(int jobs);

/* LF becomes CR LF. */
std::string LpdConvertLf(const char *data, size_t length);

/* Reads a connection: lines up to LF and counted data, from one buffer of
 * LPD_RECEIVE_BUFFER bytes filled by receive (which returns the bytes
 * received, 0 at the peer's end, negative on an error or the idle time). */
class LpdReader {
 public:
  using Receive = std::function<int(char *buffer, int size)>;
  explicit LpdReader(Receive receive) : receive_(std::move(receive)) {}

  enum LineResult { LINE_OK, LINE_END, LINE_TOO_LONG };
  /* One line without its LF. LINE_END when the connection ended or failed
   * first; LINE_TOO_LONG when no LF came within LPD_LINE_MAX bytes. */
  LineResult ReadLine(std::string *line);
  /* Up to wanted bytes (what is buffered first, else one receive); the
   * count, or 0/negative as receive gave it. */
  int ReadData(char *buffer, int wanted);

 private:
  Receive receive_;
  char buffer_[LPD_RECEIVE_BUFFER];
  int start_ = 0, end_ = 0;
};

#endif
