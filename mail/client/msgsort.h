// The message list's sort orders and its search: how two rows compare by
// Date, From, Subject or arrival time, and whether a message holds a text.
#ifndef QX_MAIL_MSGSORT_H
#define QX_MAIL_MSGSORT_H

#include <string>
#include <vector>

#include "mailstore.h"

enum SortOrder { kSortDate = 0, kSortFrom = 1, kSortSubject = 2, kSortArrival = 3 };

// -1 when a sorts before b, 1 after, 0 equal; reverse turns the result round.
// From: the row's sender column ("To: " skipped), without regard to case;
// Subject: the subject column with leading blanks and "Re: ", "Fw: ", "Fwd: "
// skipped; equal texts are ordered by Date.
int CompareMessageEntries(const MSG_ENTRY &a, const MSG_ENTRY &b, int order, bool reverse);
// The entries in list order.
void SortMessageEntries(std::vector<MSG_ENTRY> &entries, int order, bool reverse);
// Lists in Date or Rcvd Time order are ordered by their keys. A folder's
// first screen needs only its first rows: ChooseFirstKeys reads the folder's
// index once and keeps the first count keys in list order (returning how many
// messages the folder holds); SortMessageKeys orders all of them when a row
// past those is needed. Both give the order SortMessageEntries gives the
// head-first list: equal keys list later index records first.
int ChooseFirstKeys(const std::string &folder, size_t count, int order, bool reverse, std::vector<MSG_KEY> &first);
void SortMessageKeys(std::vector<MSG_KEY> &keys, int order, bool reverse);

// Whether the message file holds text on one of its lines (read in pieces of
// at most 1024 bytes); with headersOnly the search ends at the header's end.
bool MessageHoldsText(const std::string &path, const std::string &text, bool headersOnly, bool caseSensitive);

#endif
