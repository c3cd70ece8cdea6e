// Reading the suite's help files (format: docs/help-files.md).
#include "help_file.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <unordered_set>

namespace qx::help {
namespace {

constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxTopics = 10000;
// Every keyword is a line of the index: more than this is no help file's,
// and would make the index take minutes to lay out and draw.
constexpr size_t kMaxKeywords = 50000;

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// "text {Link text|topic} more" -> spans.
void AddSpans(const std::string &line, std::vector<Span> &spans) {
  size_t at = 0;
  while (at < line.size()) {
    const size_t open = line.find('{', at);
    const size_t bar = open == std::string::npos ? std::string::npos : line.find('|', open);
    const size_t close = bar == std::string::npos ? std::string::npos : line.find('}', bar);
    if (close == std::string::npos) {
      spans.push_back({line.substr(at), ""});
      return;
    }
    if (open > at) spans.push_back({line.substr(at, open - at), ""});
    spans.push_back({line.substr(open + 1, bar - open - 1), Trim(line.substr(bar + 1, close - bar - 1))});
    at = close + 1;
  }
}

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Joins adjacent plain spans (after lines were joined into a paragraph).
void Merge(Paragraph &p) {
  std::vector<Span> out;
  for (Span &s : p.spans) {
    if (!out.empty() && out.back().target.empty() && s.target.empty())
      out.back().text += s.text;
    else
      out.push_back(std::move(s));
  }
  p.spans = std::move(out);
}

}  // namespace

const Topic *HelpFile::Find(const std::string &id) const {
  for (const Topic &t : topics)
    if (strcasecmp(t.id.c_str(), id.c_str()) == 0) return &t;
  return nullptr;
}

const Topic *HelpFile::FindContext(long context) const {
  for (const Topic &t : topics)
    if (t.context == context) return &t;
  return nullptr;
}

const Topic *HelpFile::FindKeyword(const std::string &keyword) const {
  const std::string want = Trim(keyword);
  if (want.empty()) return nullptr;
  for (const Topic &t : topics)
    for (const std::string &k : t.keywords)
      if (strcasecmp(k.c_str(), want.c_str()) == 0) return &t;
  for (const Topic &t : topics)
    for (const std::string &k : t.keywords)
      if (strncasecmp(k.c_str(), want.c_str(), want.size()) == 0) return &t;
  return nullptr;
}

bool ParseHelp(const std::string &text, HelpFile &out, std::vector<std::string> &problems) {
  out = HelpFile{};
  Topic *topic = nullptr;
  Paragraph para;
  auto flush = [&] {
    if (topic && !para.spans.empty()) {
      Merge(para);
      topic->paragraphs.push_back(std::move(para));
    }
    para = Paragraph{};
  };
  auto problem = [&](size_t line, const std::string &what) {
    if (problems.size() < 50) problems.push_back("line " + std::to_string(line) + ": " + what);
  };
  size_t number = 0, keywords = 0;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) {
      problem(number, "line longer than 4096 characters, cut");
      line.resize(kMaxLine);
    }
    if (!line.empty() && line[0] == ';') continue;
    if (!line.empty() && line[0] == '@') {
      const size_t blank = line.find_first_of(" \t");
      const std::string directive = line.substr(1, blank == std::string::npos ? std::string::npos : blank - 1);
      const std::string arg = blank == std::string::npos ? std::string() : Trim(line.substr(blank));
      if (directive == "title") {
        out.title = arg;
      } else if (directive == "contents") {
        out.contents = arg;
      } else if (directive == "topic") {
        flush();
        if (out.topics.size() >= kMaxTopics) {  // the rest is not read; what was read is checked below
          problem(number, "more than 10000 topics, the rest not read");
          break;
        }
        const size_t sep = arg.find_first_of(" \t");
        Topic t;
        t.id = arg.substr(0, sep);
        t.title = sep == std::string::npos ? t.id : Trim(arg.substr(sep));
        if (t.id.empty()) problem(number, "@topic without a name");
        out.topics.push_back(std::move(t));
        topic = &out.topics.back();
      } else if (directive == "keywords" && topic) {
        for (size_t s = 0; s <= arg.size();) {
          size_t semi = arg.find(';', s);
          if (semi == std::string::npos) semi = arg.size();
          const std::string k = Trim(arg.substr(s, semi - s));
          s = semi + 1;
          if (k.empty()) continue;
          if (keywords < kMaxKeywords)
            topic->keywords.push_back(k);
          else if (keywords == kMaxKeywords)
            problem(number, "more than 50000 keywords, the rest not kept");
          ++keywords;
        }
      } else if (directive == "context" && topic) {
        char *stop = nullptr;
        const long n = std::strtol(arg.c_str(), &stop, 10);
        if (stop == arg.c_str() || *stop)
          problem(number, "@context needs a number");
        else
          topic->context = n;
      } else {
        problem(number, "unknown or misplaced directive @" + directive);
      }
      continue;
    }
    if (!topic) {
      if (!Trim(line).empty()) problem(number, "text before the first @topic");
      continue;
    }
    if (Trim(line).empty()) {
      flush();
      continue;
    }
    const bool pre = line[0] == ' ' || line[0] == '\t';
    if (pre != para.preformatted && !para.spans.empty()) flush();
    para.preformatted = pre;
    if (!para.spans.empty()) para.spans.push_back({pre ? "\n" : " ", ""});
    AddSpans(pre ? line : Trim(line), para.spans);
  }
  flush();
  if (out.topics.empty()) return false;
  if (out.contents.empty() || !out.Find(out.contents)) {
    if (!out.contents.empty()) problem(0, "@contents names no topic");
    out.contents = out.topics.front().id;
  }
  // Links are checked against a set of the topic names: a file of many topics
  // and many links must not cost a search of every topic per link.
  std::unordered_set<std::string> names;
  for (const Topic &t : out.topics) names.insert(Lower(t.id));
  for (const Topic &t : out.topics)
    for (const Paragraph &p : t.paragraphs)
      for (const Span &s : p.spans)
        if (!s.target.empty() && !names.contains(Lower(s.target)))
          problem(0, "topic " + t.id + " links to missing topic " + s.target);
  return true;
}

}  // namespace qx::help
