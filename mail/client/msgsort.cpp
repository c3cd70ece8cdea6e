// Sort orders and search of the message list. See msgsort.h.
#include "msgsort.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

namespace {

constexpr size_t kFromColumn = 7;  // after "mm/dd  "

bool StartsNoCase(const std::string &text, size_t at, const char *prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < at + n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

int CompareNoCase(const std::string &a, const std::string &b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i])), y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string FromColumn(const std::string &row) {
  size_t at = std::min(kFromColumn, row.size());
  if (StartsNoCase(row, at, "To: ")) at += 4;
  const size_t tab = row.find('\t', at);
  return row.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
}

std::string SubjectColumn(const std::string &row) {
  size_t at = row.find('\t', std::min(kFromColumn, row.size()));
  if (at == std::string::npos) return "";
  while (at < row.size() && row[at] == '\t') ++at;
  for (bool skipped = true; skipped;) {
    skipped = false;
    while (at < row.size() && row[at] == ' ') {
      ++at;
      skipped = true;
    }
    for (const char *prefix : {"Re: ", "Fw: ", "Fwd: "})
      if (StartsNoCase(row, at, prefix)) {
        at += std::strlen(prefix);
        skipped = true;
      }
  }
  return row.substr(at);
}

int Sign(int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

}  // namespace

int CompareMessageEntries(const MSG_ENTRY &a, const MSG_ENTRY &b, int order, bool reverse) {
  int result = 0;
  switch (order) {
    case kSortFrom: result = CompareNoCase(FromColumn(a.rowText), FromColumn(b.rowText)); break;
    case kSortSubject: result = CompareNoCase(SubjectColumn(a.rowText), SubjectColumn(b.rowText)); break;
    case kSortArrival: result = Sign(static_cast<int64_t>(a.arrival) - b.arrival); break;
    default: break;
  }
  if (result == 0 && order != kSortArrival) result = Sign(static_cast<int64_t>(a.date) - b.date);
  return reverse ? -result : result;
}

void SortMessageEntries(std::vector<MSG_ENTRY> &entries, int order, bool reverse) {
  if (order != kSortFrom && order != kSortSubject) {
    std::stable_sort(entries.begin(), entries.end(), [&](const MSG_ENTRY &a, const MSG_ENTRY &b) {
      return CompareMessageEntries(a, b, order, reverse) < 0;
    });
    return;
  }
  // The column each entry sorts by, cut from its row and lower-cased once
  // instead of at every comparison; then the order CompareMessageEntries gives.
  std::vector<std::string> column(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    column[i] = order == kSortFrom ? FromColumn(entries[i].rowText) : SubjectColumn(entries[i].rowText);
    for (char &c : column[i]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::vector<size_t> place(entries.size());
  for (size_t i = 0; i < place.size(); ++i) place[i] = i;
  std::stable_sort(place.begin(), place.end(), [&](size_t a, size_t b) {
    int result = column[a].compare(column[b]);
    result = result != 0 ? (result < 0 ? -1 : 1) : Sign(static_cast<int64_t>(entries[a].date) - entries[b].date);
    return (reverse ? -result : result) < 0;
  });
  std::vector<MSG_ENTRY> sorted;
  sorted.reserve(entries.size());
  for (size_t i : place) sorted.push_back(std::move(entries[i]));
  entries = std::move(sorted);
}

namespace {
// A key's place as one number, smaller first: the Date or arrival above (its
// sign bit flipped so signed values order as numbers, every bit flipped when
// reversed), the index record below (later records first among equal keys,
// as the head-first list that SortMessageEntries keeps stable).
struct KeyRank {
  bool byArrival;
  uint32_t flip;
  KeyRank(int order, bool reverse) : byArrival(order == kSortArrival), flip(reverse ? 0x7FFFFFFFu : 0x80000000u) {}
  uint64_t operator()(int32_t date, int32_t arrival, uint32_t record) const {
    const uint32_t key = static_cast<uint32_t>(byArrival ? arrival : date) ^ flip;
    return (static_cast<uint64_t>(key) << 32) | (0xFFFFFFFFu - record);
  }
  uint64_t operator()(const MSG_KEY &k) const { return (*this)(k.date, k.arrival, k.record); }
};
}  // namespace

// The best count keys are chosen in one pass over a heap of the best so far
// (worst on top): most records cost one comparison with the worst. The index's
// last piece is read first, so a folder whose dates and arrivals rise with its
// index (the usual case) does not make every record displace the worst.
int ChooseFirstKeys(const std::string &folder, size_t count, int order, bool reverse, std::vector<MSG_KEY> &first) {
  first.clear();
  const KeyRank rank(order, reverse);
  std::vector<std::pair<uint64_t, MSG_KEY>> best;  // a max-heap by rank
  best.reserve(count + 1);
  const auto worse = [](const auto &a, const auto &b) { return a.first < b.first; };
  uint64_t worst = count > 0 ? UINT64_MAX : 0;  // the rank a record must beat
  int total = 0;
  ReadIndexPieces(folder, true, [&](const IDX_RECORD *records, size_t n, uint32_t place) {
    for (size_t k = 0; k < n; ++k) {
      const IDX_RECORD &r = records[k];
      if (r.flags & kRecordFree) continue;
      ++total;
      const uint32_t record = place + static_cast<uint32_t>(k);
      const uint64_t at = rank(r.date, r.arrival, record);
      if (at >= worst) continue;
      if (best.size() == count) {
        std::pop_heap(best.begin(), best.end(), worse);
        best.pop_back();
      }
      best.emplace_back(at, MSG_KEY{r.date, r.arrival, r.n, record, r.flags});
      std::push_heap(best.begin(), best.end(), worse);
      if (best.size() == count) worst = best.front().first;
    }
  });
  std::sort_heap(best.begin(), best.end(), worse);
  for (const auto &[at, key] : best) first.push_back(key);
  return total;
}

void SortMessageKeys(std::vector<MSG_KEY> &keys, int order, bool reverse) {
  const KeyRank rank(order, reverse);
  std::sort(keys.begin(), keys.end(), [&](const MSG_KEY &a, const MSG_KEY &b) { return rank(a) < rank(b); });
}

bool MessageHoldsText(const std::string &path, const std::string &text, bool headersOnly, bool caseSensitive) {
  if (text.empty()) return false;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string wanted = text;
  if (!caseSensitive)
    for (char &c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Pieces of 1024 bytes, each overlapping the last one by the text's length
  // less one, so a text across two pieces of one line is still found.
  std::string carry, piece;
  bool found = false, lineStart = true;
  char buffer[1024];
  while (!found) {
    size_t got = 0;
    int c = 0;
    while (got < sizeof buffer && (c = std::getc(f)) != EOF) {
      buffer[got++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    if (got == 0) break;
    if (headersOnly && lineStart && buffer[0] == '\r') break;
    piece.assign(buffer, got);
    if (!caseSensitive)
      for (char &ch : piece) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string joined = carry + piece;
    found = joined.find(wanted) != std::string::npos;
    lineStart = piece.back() == '\n';
    carry = lineStart || wanted.size() < 2 ? std::string()
                                           : joined.substr(joined.size() - std::min(joined.size(), wanted.size() - 1));
  }
  std::fclose(f);
  return found;
}
