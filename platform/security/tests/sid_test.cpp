// SIDs: text round trips, refused texts, and the checks and copies.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct RoundTrip {
  const char *text;
  const char *canonical;
  DWORD length;
};

class SidRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(SidRoundTrip, TextToSidAndBack) {
  const RoundTrip c = GetParam();
  PSID sid = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA(c.text, &sid)) << c.text;
  EXPECT_TRUE(IsValidSid(sid));
  EXPECT_EQ(GetLengthSid(sid), c.length);
  LPSTR back = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(sid, &back));
  EXPECT_STREQ(back, c.canonical);
  EXPECT_EQ(LocalFree(back), nullptr);
  EXPECT_EQ(LocalFree(sid), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, SidRoundTrip,
                         ::testing::Values(RoundTrip{"S-1-1-0", "S-1-1-0", 12},
                                           RoundTrip{"S-1-5-32-544", "S-1-5-32-544", 16},
                                           RoundTrip{"S-1-22-1-1000", "S-1-22-1-1000", 16},
                                           RoundTrip{"S-1-22-2-4294967295", "S-1-22-2-4294967295", 16},
                                           RoundTrip{"S-1-5", "S-1-5", 8},  // no sub-authorities
                                           RoundTrip{"s-1-0x5-18", "S-1-5-18", 12},
                                           RoundTrip{"S-1-0x123456789ABC-1", "S-1-0x123456789ABC-1", 12},
                                           RoundTrip{"S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13-14",
                                                     "S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13-14", 68},
                                           RoundTrip{"WD", "S-1-1-0", 12}, RoundTrip{"BA", "S-1-5-32-544", 16}));

TEST(Sid, MalformedTextIsRefused) {
  for (const char *text :
       {"", "S", "S-", "S-1", "S-2-5-18", "S-1--18", "S-1-5-", "S-1-5-x", "S-1-5-4294967296", "S-1-0x1000000000000-1",
        "S-1-5-18 ", " S-1-5-18", "S-1-5-+18", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "XX", "S-1-5-0x"}) {
    PSID sid = reinterpret_cast<PSID>(1);
    SetLastError(0);
    EXPECT_FALSE(ConvertStringSidToSidA(text, &sid)) << '"' << text << '"';
    EXPECT_EQ(sid, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID)) << text;
  }
}

TEST(Sid, AllocateCompareCopyFree) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                       &admins));
  PSID parsed = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-32-544", &parsed));
  EXPECT_TRUE(EqualSid(admins, parsed));
  EXPECT_EQ(*GetSidSubAuthorityCount(admins), 2);
  EXPECT_EQ(*GetSidSubAuthority(admins, 1), DOMAIN_ALIAS_RID_ADMINS);
  EXPECT_EQ(GetSidSubAuthority(admins, 2), nullptr);  // past the count
  EXPECT_EQ(GetSidIdentifierAuthority(admins)->Value[5], 5);

  BYTE small[12];
  EXPECT_FALSE(CopySid(sizeof small, small, admins));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  BYTE copy[SECURITY_MAX_SID_SIZE];
  ASSERT_TRUE(CopySid(sizeof copy, copy, admins));
  EXPECT_TRUE(EqualSid(copy, admins));
  copy[15] ^= 1;
  EXPECT_FALSE(EqualSid(copy, admins));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  EXPECT_EQ(FreeSid(copy), static_cast<PVOID>(copy));  // not made by AllocateAndInitializeSid
  EXPECT_EQ(FreeSid(admins), nullptr);
  LocalFree(parsed);

  PSID out = nullptr;
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &out));
  EXPECT_EQ(out, nullptr);
}

TEST(Sid, InvalidSidsAreDetected) {
  BYTE bad_revision[8] = {2, 0, 0, 0, 0, 0, 0, 5};
  BYTE too_many[8] = {1, 16, 0, 0, 0, 0, 0, 5};
  for (BYTE *sid : {bad_revision, too_many}) {
    EXPECT_FALSE(IsValidSid(sid));
    EXPECT_EQ(GetLengthSid(sid), 0u);
    LPSTR text = nullptr;
    EXPECT_FALSE(ConvertSidToStringSidA(sid, &text));
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_FALSE(IsValidSid(nullptr));
  EXPECT_EQ(GetSidLengthRequired(2), 16u);
}

}  // namespace
