// The suite's help files: a simple text format (docs/help-files.md), one file
// per program, read by WinHelpA.
#pragma once

#include <string>
#include <vector>

namespace qx::help {

// A run of a paragraph: plain text, or a link to a topic.
struct Span {
  std::string text;
  std::string target;  // topic id of a link; empty for plain text
};

struct Paragraph {
  std::vector<Span> spans;
  bool preformatted = false;  // lines kept as written (no wrapping)
};

struct Topic {
  std::string id;
  std::string title;
  std::vector<std::string> keywords;
  long context = -1;  // HELP_CONTEXT number, -1 when none
  std::vector<Paragraph> paragraphs;
};

struct HelpFile {
  std::string title;
  std::string contents;  // id of the contents topic
  std::vector<Topic> topics;

  const Topic *Find(const std::string &id) const;
  const Topic *FindContext(long context) const;
  // The topic of a keyword: an exact match (without regard to case), else the
  // first keyword that begins with it; null when none.
  const Topic *FindKeyword(const std::string &keyword) const;
};

// Parses the text of a help file. Errors (a link to a missing topic, a line
// too long, a directive it does not know) are reported in `problems` with
// their line numbers; what can be read is kept. False when no topic is there.
bool ParseHelp(const std::string &text, HelpFile &out, std::vector<std::string> &problems);

}  // namespace qx::help
