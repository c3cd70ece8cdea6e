/* The gopher daemon's reading of a request: the selector, its class, and
 * the file it names beneath the gopher root. No socket or file here. */
#ifndef QX_SERVERS_BURROWSERVE_SELECTOR_H
#define QX_SERVERS_BURROWSERVE_SELECTOR_H

#include <string>

/* The selector of a request: an empty line means "1DEFAULT.GMN"; the text is
 * cut at its first TAB, then at its line end. */
std::string GopherSelector(const std::string &request);
/* The class of a selector by its type character: digits 0-9, "+" 10, "T" 11,
 * "g" 12, "I" 13, anything else 14. */
int GopherClass(const std::string &selector);
/* Classes whose pieces lose a final Ctrl-Z, and those that get no end line. */
bool GopherDropsCtrlZ(int cls);
bool GopherSendsEndLine(int cls);
/* The file below the gopher root that the selector names, as a relative host
 * path; false (answered "Bad Key") for an absolute path, a drive letter or
 * device, a "." or ".." component, or nothing at all. */
bool GopherRelativePath(const std::string &selector, std::string *relative);
/* The "Bad Key" reply, quoting the selector (control characters shown as
 * "?", at most 256 characters of it). */
std::string GopherBadKeyReply(const std::string &selector);

#endif
