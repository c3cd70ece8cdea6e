// Accounts: user and computer names, name <-> SID lookups over the system's
// users and groups and the well-known accounts, and the console user.
#include <windows.h>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qx/accounts.h"

namespace {

struct NameLookup {
  std::string sid;
  std::string domain;
  SID_NAME_USE use;
};

bool LookupName(const char *name, NameLookup &out) {
  BYTE sid[1024];
  char domain[255];
  DWORD sid_size = sizeof sid, domain_size = sizeof domain;
  SID_NAME_USE use = SidTypeUnknown;
  if (!LookupAccountNameA(nullptr, name, sid, &sid_size, domain, &domain_size, &use)) return false;
  LPSTR text = nullptr;
  ConvertSidToStringSidA(sid, &text);
  out = NameLookup{text, domain, use};
  LocalFree(text);
  EXPECT_EQ(sid_size, GetLengthSid(sid));
  EXPECT_EQ(domain_size, std::strlen(domain));
  return true;
}

std::string LookupSidName(const char *sid_text, std::string *domain_out = nullptr, SID_NAME_USE *use_out = nullptr) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(sid_text, &sid)) return "<bad>";
  char name[1024], domain[255];
  DWORD name_size = sizeof name, domain_size = sizeof domain;
  SID_NAME_USE use;
  const BOOL ok = LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use);
  LocalFree(sid);
  if (!ok) return "<none>";
  if (domain_out) *domain_out = domain;
  if (use_out) *use_out = use;
  return name;
}

std::string Computer() { return qx::ComputerName(); }

TEST(Accounts, WellKnownNames) {
  struct Case {
    const char *name;
    const char *sid;
    const char *domain;
    SID_NAME_USE use;
  } cases[] = {
      {"EveryOne", "S-1-1-0", "", SidTypeWellKnownGroup},
      {"Everyone", "S-1-1-0", "", SidTypeWellKnownGroup},
      {"BUILTIN\\Administrators", "S-1-5-32-544", "BUILTIN", SidTypeAlias},
      {"administrators", "S-1-5-32-544", "BUILTIN", SidTypeAlias},
      {"NT AUTHORITY\\SYSTEM", "S-1-5-18", "NT AUTHORITY", SidTypeWellKnownGroup},
      {"BUILTIN", "S-1-5-32", "BUILTIN", SidTypeDomain},
  };
  for (const Case &c : cases) {
    NameLookup found;
    ASSERT_TRUE(LookupName(c.name, found)) << c.name;
    EXPECT_EQ(found.sid, c.sid) << c.name;
    EXPECT_EQ(found.domain, c.domain) << c.name;
    EXPECT_EQ(found.use, c.use) << c.name;
  }
  EXPECT_EQ(LookupSidName("S-1-5-32-544"), "Administrators");
  EXPECT_EQ(LookupSidName("S-1-1-0"), "Everyone");
}

TEST(Accounts, SystemUsersAndGroups) {
  // root (uid 0, gid 0) exists on every system.
  NameLookup found;
  ASSERT_TRUE(LookupName("root", found));
  EXPECT_EQ(found.sid, "S-1-22-1-0");
  EXPECT_EQ(found.domain, Computer());
  EXPECT_EQ(found.use, SidTypeUser);
  ASSERT_TRUE(LookupName("ROOT", found));  // without regard to case
  EXPECT_EQ(found.sid, "S-1-22-1-0");
  ASSERT_TRUE(LookupName((Computer() + "\\root").c_str(), found));
  EXPECT_EQ(found.sid, "S-1-22-1-0");
  ASSERT_TRUE(LookupName("Unix Group\\root", found));  // the group of the same name
  EXPECT_EQ(found.sid, "S-1-22-2-0");
  EXPECT_EQ(found.use, SidTypeGroup);

  std::string domain;
  SID_NAME_USE use;
  EXPECT_EQ(LookupSidName("S-1-22-1-0", &domain, &use), "root");
  EXPECT_EQ(domain, Computer());
  EXPECT_EQ(use, SidTypeUser);
  const group *g = getgrgid(0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(LookupSidName("S-1-22-2-0", nullptr, &use), g->gr_name);
  EXPECT_EQ(use, SidTypeGroup);
}

TEST(Accounts, UnknownAccountsAreNotMapped) {
  NameLookup found;
  SetLastError(0);
  EXPECT_FALSE(LookupName("no-such-user-qx", found));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
  EXPECT_FALSE(LookupName("OTHERDOMAIN\\root", found));
  EXPECT_FALSE(LookupName("\\", found));
  EXPECT_EQ(LookupSidName("S-1-22-1-4000000000"), "<none>");
  EXPECT_EQ(LookupSidName("S-1-22-3-0"), "<none>");
  EXPECT_EQ(LookupSidName("S-1-5-21-1-2-3-500"), "<none>");
  BYTE sid[64];
  char domain[64];
  DWORD sid_size = sizeof sid, domain_size = sizeof domain;
  EXPECT_FALSE(LookupAccountNameA("otherhost", "root", sid, &sid_size, domain, &domain_size, nullptr));
}

TEST(Accounts, ShortBuffersReportTheSizesNeeded) {
  DWORD sid_size = 4, domain_size = 0;
  SID_NAME_USE use;
  BYTE sid[4];
  SetLastError(0);
  EXPECT_FALSE(LookupAccountNameA(nullptr, "root", sid, &sid_size, nullptr, &domain_size, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(sid_size, 16u);
  EXPECT_EQ(domain_size, Computer().size() + 1);

  PSID root = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA("S-1-22-1-0", &root));
  char name[3];
  DWORD name_size = sizeof name;
  domain_size = 0;
  EXPECT_FALSE(LookupAccountSidA(nullptr, root, name, &name_size, nullptr, &domain_size, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(name_size, 5u);
  LocalFree(root);
  BYTE bad[8] = {9, 0, 0, 0, 0, 0, 0, 5};
  name_size = sizeof name;
  EXPECT_FALSE(LookupAccountSidA(nullptr, bad, name, &name_size, nullptr, &domain_size, &use));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
}

TEST(Accounts, UserNameCountsItsTerminator) {
  const passwd *pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const std::string expected = pw->pw_name;
  char name[UNLEN + 1];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetUserNameA(name, &size));
  EXPECT_EQ(name, expected);
  EXPECT_EQ(size, expected.size() + 1);
  size = 1;
  EXPECT_FALSE(GetUserNameA(name, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, expected.size() + 1);
}

TEST(Accounts, ComputerNameIsUpperCaseFirstLabel) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(size, std::strlen(name));
  EXPECT_LE(size, static_cast<DWORD>(MAX_COMPUTERNAME_LENGTH));
  for (const char *p = name; *p; ++p) {
    EXPECT_NE(*p, '.');
    EXPECT_FALSE(std::islower(static_cast<unsigned char>(*p)));
  }
  DWORD small = 1;
  EXPECT_FALSE(GetComputerNameA(name, &small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(small, size + 1);
}

TEST(Accounts, ConsoleUserResolvesThroughTheSid) {
  setenv("QX_CONSOLE_USER", "ROOT", 1);
  std::string name;
  uid_t uid = 99;
  ASSERT_TRUE(qx::ConsoleUser(name, uid));
  EXPECT_EQ(name, "root");
  EXPECT_EQ(uid, 0u);
  // The way a daemon finds it: the SID text under HKEY_USERS, parsed into an
  // authority byte and sub-authorities, then looked up.
  const std::string key = qx::SidToString(qx::UserSid(uid).data());
  EXPECT_EQ(key, "S-1-22-1-0");
  int revision, authority, sub0, sub1;
  ASSERT_EQ(std::sscanf(key.c_str(), "S-%d-%d-%d-%d", &revision, &authority, &sub0, &sub1), 4);
  SID_IDENTIFIER_AUTHORITY auth = {{0, 0, 0, 0, 0, static_cast<BYTE>(authority)}};
  PSID sid = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&auth, 2, sub0, sub1, 0, 0, 0, 0, 0, 0, &sid));
  char account[1024], domain[255];
  DWORD account_size = sizeof account, domain_size = sizeof domain;
  SID_NAME_USE use;
  ASSERT_TRUE(LookupAccountSidA(nullptr, sid, account, &account_size, domain, &domain_size, &use));
  EXPECT_STREQ(account, "root");
  FreeSid(sid);

  struct Pinned {
    const char *value;
    bool found;
  } cases[] = {{"0", true},    {"root", true}, {"no-such-user-qx", false}, {"", false}, {"4000000000", false},
               {"12x", false}, {"-0", false}};
  for (const Pinned &c : cases) {
    setenv("QX_CONSOLE_USER", c.value, 1);
    name.clear();
    EXPECT_EQ(qx::ConsoleUser(name, uid), c.found) << '"' << c.value << '"';
    if (c.found) {
      EXPECT_EQ(name, "root");
    }
  }
  unsetenv("QX_CONSOLE_USER");
}

TEST(Accounts, UnixSidsConvertBack) {
  uid_t uid = 0;
  gid_t gid = 0;
  EXPECT_TRUE(qx::SidToUid(qx::UserSid(1234).data(), uid));
  EXPECT_EQ(uid, 1234u);
  EXPECT_FALSE(qx::SidToGid(qx::UserSid(1234).data(), gid));
  EXPECT_TRUE(qx::SidToGid(qx::GroupSid(50).data(), gid));
  EXPECT_EQ(gid, 50u);
  EXPECT_FALSE(qx::SidToUid(qx::GroupSid(50).data(), uid));
}

}  // namespace
