// Windows command lines: the program word, the splitting of arguments the C
// runtime does, and the quoting that makes a word list a command line again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qx {

// The program word ends at the first blank or tab, or, when the line starts
// with a quote, at the next quote (no backslash escapes in the program word).
// Returns the program word without its quotes.
std::string ProgramWord(std::string_view line);

// Offset of what WinMain receives as lpCmdLine: after the program word and
// the blanks (any character up to ' ') that follow it.
size_t ArgumentsOffset(std::string_view line);

// Splits a command line into words as the C runtime fills argv: the program
// word as above, then words separated by blanks and tabs, with "..." grouping,
// 2n backslashes before a quote giving n backslashes (the quote delimits),
// 2n+1 giving n and a literal quote, "" inside quotes giving a literal quote,
// and other backslashes taken literally.
std::vector<std::string> SplitCommandLine(std::string_view line);

// Quotes one word so that SplitCommandLine gives it back unchanged.
std::string QuoteArgument(std::string_view word);

// Joins words into a command line (the first as a program word).
std::string JoinCommandLine(const std::vector<std::string> &words);

}  // namespace qx
