// Logons through the Local Security Authority as the process "QX-Secure".
#include "logon.h"

#include <cstring>
#include <string>
#include <vector>

#include "registry_keys.h"

namespace {

constexpr char kLogonProcessName[] = "QX-Secure";
HANDLE g_lsa = nullptr;
ULONG g_package = 0;
// Room after the logon structure for the strings it points to.
constexpr size_t kStringRoom = 1024 * sizeof(WCHAR_T);

LSA_STRING AnsiString(const char *text) {
  LSA_STRING s;
  s.Length = USHORT(strlen(text));
  s.MaximumLength = USHORT(s.Length + 1);
  s.Buffer = const_cast<char *>(text);
  return s;
}

// UTF-16 of UTF-8 text; a byte that starts no valid sequence stands for
// itself (Latin-1).
std::vector<uint16_t> Utf16(const std::string &text) {
  std::vector<uint16_t> out;
  const auto *b = reinterpret_cast<const unsigned char *>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = b[i];
    size_t extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (extra) {
      uint32_t v = c & (0x3F >> extra);
      bool ok = true;
      for (size_t k = 1; ok && k <= extra; ++k) {
        if (i + k >= n || (b[i + k] & 0xC0) != 0x80)
          ok = false;
        else
          v = v << 6 | (b[i + k] & 0x3F);
      }
      if (ok && v >= 0x80 && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
        if (v >= 0x10000) {
          out.push_back(uint16_t(0xD800 + ((v - 0x10000) >> 10)));
          out.push_back(uint16_t(0xDC00 + ((v - 0x10000) & 0x3FF)));
        } else {
          out.push_back(uint16_t(v));
        }
        i += extra + 1;
        continue;
      }
    }
    out.push_back(uint16_t(c));
    ++i;
  }
  return out;
}

// Appends text as UTF-16 behind the structure and points s at it; false when
// the room is used up.
bool PlaceUnicode(std::vector<BYTE> &buf, size_t &used, const std::string &text, UNICODE_STRING &s) {
  std::vector<uint16_t> wide = Utf16(text);
  size_t bytes = wide.size() * sizeof(WCHAR_T);
  if (used + bytes > buf.size()) return false;
  BYTE *p = buf.data() + used;
  for (size_t i = 0; i < wide.size(); ++i) {
    p[2 * i] = BYTE(wide[i]);
    p[2 * i + 1] = BYTE(wide[i] >> 8);
  }
  s.Length = s.MaximumLength = USHORT(bytes);
  s.Buffer = reinterpret_cast<WCHAR_T *>(p);
  used += bytes;
  return true;
}

std::string DomainOrComputer(const char *domain) {
  if (domain) return domain;
  char name[256];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name) : std::string();
}

HANDLE Logon(SECURITY_LOGON_TYPE type, std::vector<BYTE> &buf, ULONG length, void **profile_out, bool *guest,
             NTSTATUS *status_out) {
  NTSTATUS status = STATUS_ACCESS_DENIED, sub = STATUS_SUCCESS;
  HANDLE token = nullptr;
  void *profile = nullptr;
  if (g_lsa) {
    TOKEN_SOURCE source = {};
    memcpy(source.SourceName, kLogonProcessName, TOKEN_SOURCE_LENGTH);
    AllocateLocallyUniqueId(&source.SourceIdentifier);
    LSA_STRING origin = AnsiString(kLogonProcessName);
    ULONG profile_length = 0;
    LUID logon_id;
    QUOTA_LIMITS quotas;
    status = LsaLogonUser(g_lsa, &origin, type, g_package, buf.data(), length, nullptr, &source, &profile,
                          &profile_length, &logon_id, &token, &quotas, &sub);
  }
  if (status == STATUS_ACCOUNT_RESTRICTION) status = sub;
  if (status_out) *status_out = status;
  if (status != STATUS_SUCCESS || sub != STATUS_SUCCESS) {
    if (token) CloseHandle(token);
    if (profile) LsaFreeReturnBuffer(profile);
    return nullptr;
  }
  if (guest && profile) *guest = static_cast<MSV1_0_LM20_LOGON_PROFILE *>(profile)->UserFlags & LOGON_GUEST;
  if (profile_out)
    *profile_out = profile;
  else if (profile)
    LsaFreeReturnBuffer(profile);
  return token;
}

}  // namespace

int RegisterLogonProcess() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRpcTokenKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return 0;
  RegCloseKey(key);
  LSA_STRING name = AnsiString(kLogonProcessName);
  LSA_OPERATIONAL_MODE mode;
  HANDLE lsa = nullptr;
  if (LsaRegisterLogonProcess(&name, &lsa, &mode) != STATUS_SUCCESS) return 0;
  LSA_STRING package = AnsiString(MSV1_0_PACKAGE_NAME);
  if (LsaLookupAuthenticationPackage(lsa, &package, &g_package) != STATUS_SUCCESS) {
    LsaDeregisterLogonProcess(lsa);
    return 0;
  }
  g_lsa = lsa;
  return 1;
}

bool DeregisterLogonProcess() {
  if (!g_lsa) return false;
  bool ok = LsaDeregisterLogonProcess(g_lsa) == STATUS_SUCCESS;
  g_lsa = nullptr;
  return ok;
}

HANDLE LogonInteractive(const char *user, const char *domain, const char *password, void **profile, NTSTATUS *status) {
  std::vector<BYTE> buf(sizeof(MSV1_0_INTERACTIVE_LOGON) + kStringRoom);
  auto *m = reinterpret_cast<MSV1_0_INTERACTIVE_LOGON *>(buf.data());
  m->MessageType = MsV1_0InteractiveLogon;
  size_t used = sizeof *m;
  if (!PlaceUnicode(buf, used, DomainOrComputer(domain), m->LogonDomainName) ||
      !PlaceUnicode(buf, used, user ? user : "", m->UserName) ||
      !PlaceUnicode(buf, used, password ? password : "", m->Password)) {
    if (status) *status = STATUS_INVALID_PARAMETER;
    return nullptr;
  }
  return Logon(Interactive, buf, ULONG(used), profile, nullptr, status);
}

HANDLE LogonNetwork(const char *user, const char *domain, const char *password, int *guest, void **profile,
                    NTSTATUS *status) {
  std::vector<BYTE> buf(sizeof(MSV1_0_LM20_LOGON) + kStringRoom);
  auto *m = reinterpret_cast<MSV1_0_LM20_LOGON *>(buf.data());
  m->MessageType = MsV1_0Lm20Logon;
  size_t used = sizeof *m;
  std::string pw = password ? password : "";
  std::string upper = pw;
  for (char &c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  UNICODE_STRING response;
  bool ok = PlaceUnicode(buf, used, DomainOrComputer(domain), m->LogonDomainName) &&
            PlaceUnicode(buf, used, user ? user : "", m->UserName) && PlaceUnicode(buf, used, "", m->Workstation) &&
            PlaceUnicode(buf, used, pw, response) && used + upper.size() <= buf.size();
  if (!ok) {
    if (status) *status = STATUS_INVALID_PARAMETER;
    return nullptr;
  }
  m->CaseSensitiveChallengeResponse.Length = m->CaseSensitiveChallengeResponse.MaximumLength = response.Length;
  m->CaseSensitiveChallengeResponse.Buffer = reinterpret_cast<PCHAR>(response.Buffer);
  memcpy(buf.data() + used, upper.data(), upper.size());
  m->CaseInsensitiveChallengeResponse.Length = m->CaseInsensitiveChallengeResponse.MaximumLength = USHORT(upper.size());
  m->CaseInsensitiveChallengeResponse.Buffer = reinterpret_cast<PCHAR>(buf.data() + used);
  used += upper.size();
  m->ParameterControl = MSV1_0_CLEARTEXT_PASSWORD_ALLOWED;
  bool is_guest = false;
  HANDLE token = Logon(Network, buf, ULONG(used), profile, &is_guest, status);
  if (token && guest) *guest = is_guest ? 1 : 0;
  return token;
}
