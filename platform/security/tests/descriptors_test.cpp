// File security descriptors made from owner, group and mode and written back
// to them, and the ACL and descriptor calls with their size checks.
#include <windows.h>

#include <qxwin/descriptors.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Sid = std::vector<BYTE>;

Sid UnixSid(uint32_t kind, uint32_t id) {
  Sid sid = {1, 2, 0, 0, 0, 0, 0, 22};
  for (uint32_t v : {kind, id})
    for (int i = 0; i < 4; ++i) sid.push_back(BYTE(v >> (8 * i)));
  return sid;
}
const Sid kEveryone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

// A D: drive of the test's own.
struct Drive {
  std::string root;
  Drive() {
    char tmpl[] = "/tmp/qx-descriptors-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    std::filesystem::create_directories(root + "/d");
    setenv("QX_DRIVE_D", (root + "/d").c_str(), 1);
  }
  ~Drive() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string Make(const char *name, mode_t mode) const {
    std::string host = root + "/d/" + name;
    std::ofstream(host) << "x";
    chmod(host.c_str(), mode);
    return host;
  }
};
const Drive &g_drive = *new Drive;

struct Ace {
  BYTE type, flags;
  DWORD mask;
  Sid sid;
};

std::vector<Ace> AcesOf(PACL acl) {
  std::vector<Ace> out;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    LPVOID p;
    EXPECT_TRUE(GetAce(acl, i, &p));
    auto *a = static_cast<ACCESS_ALLOWED_ACE *>(p);
    BYTE *sid = reinterpret_cast<BYTE *>(&a->SidStart);
    out.push_back({a->Header.AceType, a->Header.AceFlags, a->Mask, Sid(sid, sid + GetLengthSid(sid))});
  }
  return out;
}

TEST(FileSecurity, DescriptorFromOwnerGroupAndMode) {
  std::string host = g_drive.Make("f0640", 0640);
  SECURITY_INFORMATION all = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  BYTE small[8];
  EXPECT_FALSE(GetFileSecurityA("d:\\f0640", all, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> sd(needed);
  ASSERT_TRUE(GetFileSecurityA("d:\\f0640", all, sd.data(), needed, &needed));
  EXPECT_TRUE(IsValidSecurityDescriptor(sd.data()));
  EXPECT_EQ(GetSecurityDescriptorLength(sd.data()), needed);

  PSID owner, group;
  BOOL defaulted, present;
  PACL dacl;
  ASSERT_TRUE(GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorGroup(sd.data(), &group, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted));
  EXPECT_TRUE(EqualSid(owner, UnixSid(1, geteuid()).data()));
  EXPECT_TRUE(EqualSid(group, UnixSid(2, getegid()).data()));
  ASSERT_TRUE(present);
  std::vector<Ace> aces = AcesOf(dacl);
  ASSERT_EQ(aces.size(), 2u);  // no bits for others: no Everyone entry
  EXPECT_EQ(aces[0].mask, WRITE_DAC | READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                              FILE_GENERIC_READ_RIGHTS | FILE_GENERIC_WRITE_RIGHTS);
  EXPECT_EQ(aces[1].mask, FILE_GENERIC_READ_RIGHTS);
  EXPECT_EQ(aces[1].sid, UnixSid(2, getegid()));

  EXPECT_FALSE(GetFileSecurityA("d:\\missing", all, sd.data(), DWORD(sd.size()), &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(FileSecurity, DaclBackToMode) {
  std::string host = g_drive.Make("g", 04600);
  Sid owner = UnixSid(1, geteuid()), group = UnixSid(2, getegid());
  BYTE buf[512];
  PACL acl = reinterpret_cast<PACL>(buf);
  ASSERT_TRUE(InitializeAcl(acl, sizeof buf, ACL_REVISION));
  AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ_RIGHTS | FILE_GENERIC_EXECUTE_RIGHTS, owner.data());
  AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_WRITE_RIGHTS, group.data());
  AddAccessAllowedAce(acl, ACL_REVISION, FILE_READ_DATA, const_cast<BYTE *>(kEveryone.data()));
  // An inherit-only entry says nothing about the file itself.
  AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_WRITE_RIGHTS, const_cast<BYTE *>(kEveryone.data()));
  LPVOID last;
  ASSERT_TRUE(GetAce(acl, 3, &last));
  static_cast<ACCESS_ALLOWED_ACE *>(last)->Header.AceFlags = INHERIT_ONLY_ACE;

  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
  ASSERT_TRUE(SetFileSecurityA("d:\\g", DACL_SECURITY_INFORMATION, &sd));
  struct stat st;
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 04000u | 0524u);  // the set-id bit stays

  // A present but empty DACL leaves no one anything; a missing one, everything.
  ASSERT_TRUE(InitializeAcl(acl, sizeof buf, ACL_REVISION));
  ASSERT_TRUE(SetFileSecurityA("d:\\g", DACL_SECURITY_INFORMATION, &sd));
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0u);
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
  ASSERT_TRUE(SetFileSecurityA("d:\\g", DACL_SECURITY_INFORMATION, &sd));
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);

  // Owners and groups must be this machine's accounts.
  Sid foreign = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};
  ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, foreign.data(), FALSE));
  EXPECT_FALSE(SetFileSecurityA("d:\\g", OWNER_SECURITY_INFORMATION, &sd));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_OWNER));
  ASSERT_TRUE(SetSecurityDescriptorGroup(&sd, owner.data(), FALSE));  // a user is no group
  EXPECT_FALSE(SetFileSecurityA("d:\\g", GROUP_SECURITY_INFORMATION, &sd));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PRIMARY_GROUP));
}

// An ACE claiming more bytes than its ACL holds makes the ACL invalid: it is
// refused, never read past.
TEST(FileSecurity, DamagedAclIsRefused) {
  g_drive.Make("h", 0644);
  BYTE buf[64];
  PACL acl = reinterpret_cast<PACL>(buf);
  ASSERT_TRUE(InitializeAcl(acl, sizeof buf, ACL_REVISION));
  Sid owner = UnixSid(1, geteuid());
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_READ_DATA, owner.data()));
  reinterpret_cast<ACE_HEADER *>(buf + sizeof(ACL))->AceSize = 200;
  EXPECT_FALSE(IsValidAcl(acl));
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  EXPECT_FALSE(SetFileSecurityA("d:\\h", DACL_SECURITY_INFORMATION, &sd));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ACL));
}

TEST(Descriptors, AclEditingAndForms) {
  BYTE buf[256];
  PACL acl = reinterpret_cast<PACL>(buf);
  ASSERT_TRUE(InitializeAcl(acl, sizeof buf, ACL_REVISION));
  Sid a = UnixSid(1, 1), b = UnixSid(2, 2);
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 0x1, a.data()));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 0x2, b.data()));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 0x20, a.data()));
  ASSERT_TRUE(DeleteAce(acl, 1));
  ASSERT_EQ(acl->AceCount, 2);
  LPVOID ace;
  ASSERT_TRUE(GetAce(acl, 1, &ace));
  EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE *>(ace)->Mask, 0x20u);
  EXPECT_FALSE(GetAce(acl, 2, &ace));
  ACL_SIZE_INFORMATION info;
  ASSERT_TRUE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
  EXPECT_EQ(info.AclBytesInUse, 8u + 2 * (8 + 16));
  // No room left: refused, not written past the end.
  BYTE tiny[40];
  PACL small = reinterpret_cast<PACL>(tiny);
  ASSERT_TRUE(InitializeAcl(small, sizeof tiny, ACL_REVISION));
  EXPECT_TRUE(AddAccessAllowedAce(small, ACL_REVISION, 1, a.data()));
  EXPECT_FALSE(AddAccessAllowedAce(small, ACL_REVISION, 1, a.data()));

  // Absolute -> self-relative -> absolute keeps every part.
  SECURITY_DESCRIPTOR abs;
  ASSERT_TRUE(InitializeSecurityDescriptor(&abs, SECURITY_DESCRIPTOR_REVISION));
  SetSecurityDescriptorOwner(&abs, a.data(), FALSE);
  SetSecurityDescriptorGroup(&abs, b.data(), TRUE);
  SetSecurityDescriptorDacl(&abs, TRUE, acl, FALSE);
  DWORD len = 0;
  EXPECT_FALSE(MakeSelfRelativeSD(&abs, nullptr, &len));
  std::vector<BYTE> self(len);
  ASSERT_TRUE(MakeSelfRelativeSD(&abs, self.data(), &len));
  EXPECT_TRUE(IsValidSecurityDescriptor(self.data()));
  SECURITY_DESCRIPTOR back;
  BYTE dacl[512], sacl[8], owner[64], group[64];
  DWORD abs_size = sizeof back, dacl_size = sizeof dacl, sacl_size = sizeof sacl, owner_size = sizeof owner,
        group_size = sizeof group;
  ASSERT_TRUE(MakeAbsoluteSD(self.data(), &back, &abs_size, reinterpret_cast<PACL>(dacl), &dacl_size,
                             reinterpret_cast<PACL>(sacl), &sacl_size, owner, &owner_size, group, &group_size));
  PSID o, g;
  BOOL od, gd, present, dd;
  PACL d;
  ASSERT_TRUE(GetSecurityDescriptorOwner(&back, &o, &od));
  ASSERT_TRUE(GetSecurityDescriptorGroup(&back, &g, &gd));
  ASSERT_TRUE(GetSecurityDescriptorDacl(&back, &present, &d, &dd));
  EXPECT_TRUE(EqualSid(o, a.data()));
  EXPECT_TRUE(EqualSid(g, b.data()));
  EXPECT_FALSE(od);
  EXPECT_TRUE(gd);
  EXPECT_TRUE(present);
  EXPECT_EQ(d->AceCount, 2);
}

}  // namespace
