// Bookmarks and checkpoints of the gopher client. A bookmark keeps one item
// (host, port, selector, display, type) as a section of the private INI
// file; a checkpoint keeps the whole visible tree in a file of its own
// ("QXCP0000.000" beside the INI file), named in the section "Checkpoints".
// Both are read back with bounds and checks: a damaged bookmark or
// checkpoint file is reported and left as it is, never loaded in part or
// rewritten.
#ifndef QX_GOPHER_CLIENT_BOOKMARKS_H
#define QX_GOPHER_CLIENT_BOOKMARKS_H

#include <string>
#include <vector>

#include "gophercore.h"

constexpr const char *kCheckpointSection = "Checkpoints";
constexpr size_t kMaxBookmarkName = 128;
// Values are read with up to 255 characters (a checkpoint path with 512).
constexpr size_t kMaxBookmarkValue = 255;
constexpr size_t kMaxCheckpointPath = 512;
// A checkpoint line, with its line feed.
constexpr size_t kMaxCheckpointLine = 511;
// Larger files are not checkpoints; deeper trees are not a person's.
constexpr long kMaxCheckpointBytes = 8L << 20;
constexpr int kMaxCheckpointDepth = 1000;
// The names a list dialog offers, all together.
constexpr size_t kMaxSectionNames = 2048;

struct BOOKMARK {
  std::string host;
  std::string key;
  std::string description;
  int port = 70;
  char type = '1';
};

// Reads the bookmark of that name: 1 when it is whole, 0 when the section
// has no Host (no such bookmark), -1 when it is damaged (problem says how).
int ReadBookmark(const char *iniPath, const std::string &name, BOOKMARK *bookmark, std::string *problem);
// Why the item cannot be kept as a bookmark that loads again, "" when it can:
// no host, a port outside 1..65535, a host or selector over kMaxBookmarkValue
// characters or holding a control character.
std::string BookmarkItemProblem(const GopherItem &item);
// Writes Host, Key, Description, Port and Type of the item into the section;
// false, with nothing written, for an item BookmarkItemProblem refuses. The
// description is kept readable: control characters become blanks and it is
// cut to kMaxBookmarkValue characters.
bool WriteBookmark(const char *iniPath, const std::string &name, const GopherItem &item);
bool BookmarkExists(const char *iniPath, const std::string &name);
// Deletes the bookmark's section; false for "Checkpoints", and false with a
// box saying so when the INI file refuses the change.
bool DeleteBookmark(const char *iniPath, const std::string &name);
// The names of the sections that have the key, read from the INI file as
// text (a '[' line names a section up to its ']'), at most 2048 characters
// of names in all.
std::vector<std::string> ListIniSections(const char *iniPath, const char *key);
std::vector<std::string> ListCheckpoints(const char *iniPath);
bool CheckpointExists(const char *iniPath, const std::string &name);
// Why a name cannot name a bookmark or checkpoint (it would break the INI
// file or another entry's section); empty when it can.
std::string NameProblem(const std::string &name, bool bookmark);

// Command 109 and the home bookmark: the bookmark as a new root item, or
// null after telling the person why not (emptyText when the name is empty).
GopherItem *BookmarkItem(const char *iniPath, const std::string &name, const char *emptyText);

// The first "QXCP%04d.%03d" beside the INI file that does not exist yet;
// empty when the INI path has no folder or every name is taken.
std::string NewCheckpointPath(const char *iniPath);
// Numbers the visible items depth first from counter; returns the next number.
int NumberItems(GopherItem *first, int counter);
// One item's line (with its line feed); false, with why (when given) saying
// so, when host and selector alone make it longer than a checkpoint line (the
// display is shortened to fit), or when either holds the byte 255, which the
// file keeps for a double quote (it would read back as one).
bool CheckpointLine(const GopherItem &item, std::string *line, std::string *why = nullptr);
// Command 110: writes the visible tree to a new checkpoint file and records
// it under the name. 1 when every item was written.
int SaveCheckpoint(const char *iniPath, const std::string &name);
// Command 111: forgets the checkpoint and deletes its file (only a file
// named like a checkpoint file). When the INI file refuses the change a box
// says so and both are kept.
bool RemoveCheckpoint(const char *iniPath, const std::string &name);

enum CheckpointLoad { kCheckpointLoaded = 0, kCheckpointNoFile = 1, kCheckpointNoMemory = 2, kCheckpointDamaged = 3 };
// Reads a checkpoint file's text into a tree: kCheckpointLoaded with the
// first root in *first, else kCheckpointDamaged (problem names the line and
// the fault) or kCheckpointNoMemory; nothing is left allocated on failure.
int ParseCheckpoint(const std::string &text, GopherItem **first, std::string *problem);
// Loads the named checkpoint: its roots replace the tree (clearFirst or no
// tree) or follow the last root.
int LoadCheckpoint(const char *iniPath, const std::string &name, int clearFirst, std::string *problem);
// Commands 112 and 101: loads and tells the person what went wrong; the
// tree list is rebuilt after a load. emptyText for an empty name.
int LoadCheckpointCommand(const char *iniPath, const std::string &name, int clearFirst, const char *emptyText);

#endif
