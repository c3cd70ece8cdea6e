// What OK of the Configure dialog writes into "QXMAIL.INI" for the values both
// the settings test and the dialog test enter: mail directory mailDir, host
// "mail.example.com", name "Test User", Verbose and Timed ticked, Include
// Message ticked with "<Author> wrote:" and "> ", wrap 20 and interval 10000
// (stored as 40 and 7200), over "[default]\nMailHost=site.example\n".
#ifndef QX_MAIL_CONFIGURE_GOLDEN_H
#define QX_MAIL_CONFIGURE_GOLDEN_H

#include <string>

namespace mailtest {

inline const char *ConfigureGoldenStart() { return "[default]\nMailHost=site.example\n"; }

inline std::string ConfigureGoldenIni(const std::string &mailDir) {
  return "[default]\r\nMailHost=site.example\r\n[tester]\r\nMailDir=" + mailDir +
         "\r\nMailHost=mail.example.com\r\nOrganization=\r\nPersonalName=Test User\r\nEditor=\r\n"
         "ReplyString=<Author> wrote:\r\nReplyTo=\r\nCcSelf=False\r\nUseSound=False\r\nSaveSent=False\r\n"
         "Login=True\r\nDelayedSend=False\r\nTimed=True\r\nInterval=7200\r\nWordWrap=40\r\nVerbose=True\r\n"
         "IncludeReply=True\r\nDeleteReadFromServer=True\r\nIncludeHeader=False\r\nAutoAdvance=True\r\n"
         "ReDirectPrompt=False\r\nIndentString=> \xFF\r\nIndexFormat=BytePacked\r\n";
}

}  // namespace mailtest

#endif
