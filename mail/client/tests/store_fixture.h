// Shared helpers of the mail store tests: messages with known headers, adding
// them to folders, and reading index records back as bytes.
#ifndef QX_MAIL_STORE_FIXTURE_H
#define QX_MAIL_STORE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "mailstore.h"
#include "settings.h"
#include "test_support.h"

namespace mailtest {

inline std::string Message(const std::string &id, const std::string &subject = "",
                           const std::string &from = "Sender Name <sender@example.com>") {
  return "From: " + from + "\r\nTo: <rcpt@example.net>\r\nSubject: " + (subject.empty() ? id : subject) +
         "\r\nDate: Tue, 5 Dec 1995 14:30:00 GMT\r\nMessage-ID: <" + id + "@example.com>\r\n\r\nBody of " + id + "\r\n";
}

// Adds a message to folder through a work file, as the sent copy does.
inline int AddMessage(const std::string &folder, const std::string &text) {
  std::string path = folder + "/";
  FILE *f = CreateUniqueFile(path);
  if (!f) return -100;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return StoreAddMessage(path, folder);
}

inline std::string IndexBytes(const std::string &folder) { return ReadFile(IndexPath(folder)); }

inline IDX_RECORD Record(const std::string &folder, int slot) {
  std::string bytes = IndexBytes(folder);
  IDX_RECORD r{};
  if (bytes.size() >= static_cast<size_t>((slot + 1) * kRecordSize))
    std::memcpy(&r, bytes.data() + slot * kRecordSize, sizeof r);
  return r;
}

// A free record as the store writes it: flags 1, the link, everything else zero.
inline std::string FreeRecordBytes(int32_t link) {
  std::string r(109, '\0');
  r[0] = 1;
  std::memcpy(&r[1], &link, 4);
  return r;
}

// Used slots of a folder's index, each with the Message-ID of its record's file.
inline std::map<int, std::string> IndexedIds(const std::string &folder) {
  std::map<int, std::string> ids;
  IDX_RECORD r;
  FILE *f = nullptr;
  for (int rc = IndexOpenFirst(folder, r, f); rc == 0; rc = IndexNextRecord(r, f)) {
    HEADER_SUMMARY s;
    const int slot = r.n;
    ReadMessageHeader(folder, static_cast<uint32_t>(slot), s);
    ids[slot] = s.messageId.value_or("");
  }
  return ids;
}

// Every test starts with its own mail directory and an INI file for settings.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProfileAccess(nullptr);  // the layer's private-profile calls
    Settings() = MAIL_SETTINGS{};
    Settings().iniFile = dir / "QXMAIL.INI";
    Settings().user = "tester";
    Settings().mailHost = "example.com";
    Settings().ownAddress = "tester@example.com";
    mail = dir.path();
  }
  void TearDown() override { g_StoreStepHook = nullptr; }
  TempDir dir;
  std::string mail;
};

}  // namespace mailtest

#endif
