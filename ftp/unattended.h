// The unattended one-file download another program asks for on the command
// line (host, user, password, account, remote directory, file, local
// directory, mode), and the pieces it is made of.
#ifndef QX_FTP_UNATTENDED_H
#define QX_FTP_UNATTENDED_H

#include <string>
#include <vector>

struct FTP_ARGS {
  std::string host, user, password, account, directory, file, localDirectory, mode;
};

// Splits the command line into its tokens: blanks separate them, a double
// quote toggles quoting and is not copied, "" is an empty token. Missing
// tokens stay empty; a ninth and later are ignored.
FTP_ARGS ParseFtpArgs(const char *commandLine);
std::vector<std::string> SplitFtpTokens(const char *commandLine);

// The local file name for a name from a server or a mail message: a VMS
// version (";3") is dropped; a name holding '/', '\\', '=', ';', a control
// character, or being empty, "." or "..", is refused (empty result).
std::string LocalNameFor(const std::string &remoteName);

// Fetches one remote file of the pane's current directory into a local
// path with RETR: text mode turns the network's CR LF into LF. The file is
// kept only when every byte was written and the server confirmed the end
// with a 2xx reply; otherwise it is removed. Returns true on success; on
// failure a box has said why.
bool RetrieveFile(int pane, const std::string &remoteName, const std::string &localPath, bool textMode);

// The whole download, after the windows exist. Returns the program's exit
// code: 0 when the file arrived, 1 otherwise.
int RunUnattendedDownload(const FTP_ARGS &args, const std::string &anonymousName);

#endif
