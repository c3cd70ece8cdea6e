// The NFS version 2 procedures of the running service, driven over UDP by a
// client built on libnfs's XDR codec: a whole walk (make a tree, write and
// read back files, rename, link, symlink, remove, change attributes) checked
// against the exported tree on disk; the export's boundary against forged
// handles and symbolic links; access as other uids.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <string>

#include "nfs_client.h"
#include "service_harness.h"

using nfstest::Handle;
using nfstest::NfsClient;

namespace {

constexpr uint32_t kUser = 65534, kGroup = 65534;  // nobody, nogroup
constexpr uint32_t NFS_OK = 0, NOENT = 2, ACCES = 13, ROFS = 30, NOTEMPTY = 66, STALE = 70;

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char((i * 131 + (i >> 13) + seed) & 0xFF);
  return s;
}

// The whole content of a file through READs of 8192 bytes.
std::string ReadAll(NfsClient &c, const Handle &h, uint32_t size) {
  std::string all, piece;
  for (uint32_t at = 0; at < size; at += 8192) {
    if (c.Read(h, at, 8192, &piece) != NFS_OK) return "(READ failed at " + std::to_string(at) + ")";
    all += piece;
    if (piece.empty()) break;
  }
  return all;
}

uint32_t WriteAll(NfsClient &c, const Handle &h, const std::string &data) {
  for (size_t at = 0; at < data.size(); at += 8192)
    if (uint32_t s = c.Write(h, uint32_t(at), data.substr(at, 8192)); s != NFS_OK) return s;
  return NFS_OK;
}

// A tree as "path -> kind mode size content" lines: files' content only when small.
using Tree = std::map<std::string, std::string>;

std::string Describe(char kind, uint32_t mode, uint64_t size, const std::string &content) {
  char head[64];
  snprintf(head, sizeof head, "%c %04o %llu ", kind, mode & 07777, (unsigned long long)size);
  return head + (size <= 65536 ? content : std::string("(large)"));
}

void ClientTree(NfsClient &c, const Handle &dir, const std::string &prefix, Tree &tree) {
  std::vector<NfsClient::Entry> entries;
  bool eof = false;
  uint32_t cookie = 0;
  while (!eof) {
    size_t before = entries.size();
    ASSERT_EQ(c.Readdir(dir, cookie, 4096, entries, eof), NFS_OK) << prefix;
    if (entries.size() > before) cookie = entries.back().cookie;
    ASSERT_TRUE(eof || entries.size() > before) << "READDIR made no progress in " << prefix;
  }
  for (const auto &e : entries) {
    if (e.name == "." || e.name == "..") continue;
    Handle h;
    fattr2 a{};
    ASSERT_EQ(c.Lookup(dir, e.name, &h, &a), NFS_OK) << prefix + e.name;
    EXPECT_EQ(a.fileid, e.fileid) << "READDIR and LOOKUP disagree on the fileid of " << prefix + e.name;
    std::string path = prefix + e.name;
    if (a.type == NF2DIR) {
      tree[path] = Describe('d', a.mode, 0, "");
      ClientTree(c, h, path + "/", tree);
    } else if (a.type == NF2LNK) {
      std::string target;
      ASSERT_EQ(c.Readlink(h, &target), NFS_OK) << path;
      tree[path] = Describe('l', 0, 0, target);
    } else {
      tree[path] = Describe('f', a.mode, a.size, a.size <= 65536 ? ReadAll(c, h, a.size) : "");
    }
  }
}

void DiskTree(const std::string &root, Tree &tree) {
  for (const auto &e : std::filesystem::recursive_directory_iterator(root)) {
    std::string path = e.path().string().substr(root.size() + 1);
    struct stat st {};
    lstat(e.path().c_str(), &st);
    if (S_ISDIR(st.st_mode))
      tree[path] = Describe('d', st.st_mode, 0, "");
    else if (S_ISLNK(st.st_mode))
      tree[path] = Describe('l', 0, 0, std::filesystem::read_symlink(e.path()).string());
    else
      tree[path] = Describe('f', st.st_mode, uint64_t(st.st_size),
                            st.st_size <= 65536 ? qxtest::ReadFile(e.path()) : std::string());
  }
}

class Nfs : public nfstest::ServiceTest {
 protected:
  void MakeExportDir(const std::string &relative, mode_t mode = 0755) {
    std::filesystem::create_directories(Host(relative));
    ASSERT_EQ(chown(Host(relative).c_str(), kUser, kGroup), 0);
    chmod(Host(relative).c_str(), mode);
  }
  void MakeFile(const std::string &relative, const std::string &data, mode_t mode, uid_t owner = kUser) {
    qxtest::WriteFile(Host(relative), data);
    ASSERT_EQ(chown(Host(relative).c_str(), owner, kGroup), 0);
    chmod(Host(relative).c_str(), mode);
  }
};

TEST_F(Nfs, ClientWalkMatchesTheTreeOnDisk) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  MakeExportDir("d/ex");
  WriteExports("d:\\ex\n");
  Start("/t:8192");
  NfsClient c(kUser, kGroup);
  Handle root = c.Mount("/d/ex");
  ASSERT_EQ(root.size(), 32u);

  Handle a, b;
  ASSERT_EQ(c.Mkdir(root, "a", 0755, &a), NFS_OK);
  ASSERT_EQ(c.Mkdir(root, "b", 0700, &b), NFS_OK);
  EXPECT_EQ(std::filesystem::status(Host("d/ex/b")).permissions(), std::filesystem::perms(0700));

  // Files across the edges of one transfer, and a large one (every WRITE
  // waits for the disk: the 1 GB run is bench/nfs's).
  const size_t kLarge = 16u << 20;
  for (size_t size : {size_t(0), size_t(1), size_t(8192), size_t(8193), kLarge}) {
    std::string name = "f" + std::to_string(size), data = Pattern(size, unsigned(size));
    Handle h;
    fattr2 attr{};
    ASSERT_EQ(c.Create(a, name, 0644, &h, &attr), NFS_OK) << name;
    EXPECT_EQ(attr.type, NF2REG);
    EXPECT_EQ(attr.uid, kUser) << "a new file belongs to its creator";
    ASSERT_EQ(WriteAll(c, h, data), NFS_OK) << name;
    ASSERT_EQ(c.Getattr(h, &attr), NFS_OK);
    EXPECT_EQ(attr.size, size) << name;
    EXPECT_TRUE(ReadAll(c, h, uint32_t(size)) == data) << name << " does not read back as written";
    EXPECT_TRUE(qxtest::ReadFile(Host("d/ex/a/" + name)) == data) << name << " on disk differs";
  }

  // Rename across directories; the old name is gone, but a client still
  // holding the old handle reads the file under its new name.
  Handle moved, hard, link, old_f1;
  ASSERT_EQ(c.Lookup(a, "f1", &old_f1), NFS_OK);
  ASSERT_EQ(c.Rename(a, "f1", b, "moved"), NFS_OK);
  EXPECT_EQ(c.Lookup(a, "f1"), NOENT);
  std::string through_old;
  EXPECT_EQ(c.Read(old_f1, 0, 100, &through_old), NFS_OK);
  EXPECT_EQ(through_old, Pattern(1, 1));
  fattr2 moved_attr{}, hard_attr{};
  ASSERT_EQ(c.Lookup(b, "moved", &moved, &moved_attr), NFS_OK);
  // A hard link shares the fileid and counts two links.
  ASSERT_EQ(c.Link(moved, a, "hard"), NFS_OK);
  ASSERT_EQ(c.Lookup(a, "hard", &hard, &hard_attr), NFS_OK);
  EXPECT_EQ(hard_attr.fileid, moved_attr.fileid);
  EXPECT_EQ(hard_attr.nlink, 2u);
  // A symbolic link is a real one, read back as written.
  ASSERT_EQ(c.Symlink(a, "sl", "../b/moved"), NFS_OK);
  fattr2 link_attr{};
  ASSERT_EQ(c.Lookup(a, "sl", &link, &link_attr), NFS_OK);
  EXPECT_EQ(link_attr.type, NF2LNK);
  std::string target;
  ASSERT_EQ(c.Readlink(link, &target), NFS_OK);
  EXPECT_EQ(target, "../b/moved");
  EXPECT_EQ(std::filesystem::read_symlink(Host("d/ex/a/sl")).string(), "../b/moved");

  ASSERT_EQ(c.Remove(10, a, "f0"), NFS_OK);
  EXPECT_EQ(c.Lookup(a, "f0"), NOENT);
  EXPECT_EQ(c.Remove(15, root, "a"), NOTEMPTY);
  EXPECT_TRUE(std::filesystem::exists(Host("d/ex/a/f8192")));

  // SETATTR of mode and size.
  Handle f8192, f8193;
  ASSERT_EQ(c.Lookup(a, "f8192", &f8192), NFS_OK);
  ASSERT_EQ(c.Lookup(a, "f8193", &f8193), NFS_OK);
  sattr2 s = nfstest::NoChange();
  s.mode = 0600;
  fattr2 after{};
  ASSERT_EQ(c.Setattr(f8192, s, &after), NFS_OK);
  EXPECT_EQ(after.mode & 07777, 0600u);
  s = nfstest::NoChange();
  s.size = 100;
  ASSERT_EQ(c.Setattr(f8193, s, &after), NFS_OK);
  EXPECT_EQ(after.size, 100u);
  // A WRITE past the end leaves a gap that reads back as zeros.
  ASSERT_EQ(c.Write(f8193, 10000, "tail"), NFS_OK);
  std::string gap;
  ASSERT_EQ(c.Read(f8193, 100, 8192, &gap), NFS_OK);
  EXPECT_EQ(gap, std::string(9900, '\0').substr(0, 8192));
  // CREATE of an existing name with a size of 0 truncates it.
  sattr2 truncate = nfstest::NoChange();
  truncate.size = 0;
  ASSERT_EQ(c.Make(9, b, "moved", truncate), NFS_OK);
  EXPECT_EQ(std::filesystem::file_size(Host("d/ex/b/moved")), 0u);

  Tree seen, disk;
  ClientTree(c, root, "", seen);
  DiskTree(Host("d/ex"), disk);
  EXPECT_EQ(seen, disk);
}

TEST_F(Nfs, ExportBoundaryAndAccessChecks) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  MakeExportDir("d/ex");
  MakeExportDir("d/ex/sub");
  MakeExportDir("d/ro");
  MakeExportDir("d/outside");
  MakeFile("d/outside/file", "not exported", 0644);
  MakeFile("d/ex/secret", "for nobody alone", 0600);
  MakeFile("d/ex/open", "for everyone to read", 0644);
  MakeFile("d/ex/sub/x", "inside", 0644);
  std::filesystem::create_symlink("/etc", Host("d/ex/out"));
  std::filesystem::create_symlink("../outside", Host("d/ex/up"));
  std::filesystem::create_symlink("sub", Host("d/ex/inner"));
  MakeFile("d/ex/long", Pattern(10000, 7), 0644);
  WriteExports("d:\\ex\nd:\\ro -ro\n");
  Start();  // the default transfer size, 4096

  NfsClient c(kUser, kGroup);
  Handle root = c.Mount("/d/ex");
  ASSERT_EQ(root.size(), 32u);
  fattr2 root_attr{}, attr{};
  ASSERT_EQ(c.Getattr(root, &root_attr), NFS_OK);
  EXPECT_EQ(root_attr.type, NF2DIR);
  EXPECT_EQ(root_attr.fsid, 4u << 24) << "drive D";
  struct stat st {};
  stat(Host("d/ex").c_str(), &st);
  EXPECT_EQ(root_attr.fileid, uint32_t(st.st_ino ^ (uint64_t(st.st_ino) >> 32)));

  // ".." of the exported directory is the exported directory.
  Handle up;
  ASSERT_EQ(c.Lookup(root, "..", &up, &attr), NFS_OK);
  EXPECT_EQ(attr.fileid, root_attr.fileid);
  EXPECT_EQ(up, root);

  // Links are shown as links; none is followed out of the export, whatever
  // a client does with its handle.
  for (const char *name : {"out", "up", "inner"}) {
    Handle h;
    ASSERT_EQ(c.Lookup(root, name, &h, &attr), NFS_OK) << name;
    EXPECT_EQ(attr.type, NF2LNK) << name;
    h[0] = char(h[0] | 0x40);  // claimed to be a directory
    const char *child = std::string(name) == "out" ? "passwd" : std::string(name) == "up" ? "file" : "x";
    uint32_t status = c.Lookup(h, child, nullptr, &attr);
    if (std::string(name) == "inner")
      EXPECT_EQ(status, NFS_OK) << "a link that stays inside the export is followed";
    else
      EXPECT_EQ(status, ACCES) << name << "/" << child << " lies outside the export";
  }

  // A handle for a directory next to the export, made from the export's own.
  Handle outside = root;
  memset(&outside[21], 0, 11);
  memcpy(&outside[21], "outside", 7);
  EXPECT_EQ(c.Getattr(outside), STALE);
  Handle too_deep = root;
  too_deep[0] = char(too_deep[0] | 0x80);  // depth bits beyond the table
  too_deep[1] = char(too_deep[1] | 0x07);
  EXPECT_EQ(c.Getattr(too_deep), STALE);

  // Modes as the caller's uid: another uid reads what others may and
  // nothing more; root is squashed to nobody-else without "root=".
  Handle secret, open;
  ASSERT_EQ(c.Lookup(root, "secret", &secret), NFS_OK);
  ASSERT_EQ(c.Lookup(root, "open", &open), NFS_OK);
  std::string data;
  EXPECT_EQ(c.Read(secret, 0, 100, &data), NFS_OK);
  EXPECT_EQ(data, "for nobody alone");
  NfsClient other(1234, 1234, "client2");
  EXPECT_EQ(other.Read(secret, 0, 100, &data), ACCES);
  EXPECT_EQ(other.Read(open, 0, 100, &data), NFS_OK);
  EXPECT_EQ(other.Write(open, 0, "changed"), ACCES);
  EXPECT_EQ(other.Create(root, "new", 0644), ACCES);
  EXPECT_EQ(qxtest::ReadFile(Host("d/ex/open")), "for everyone to read");
  NfsClient superuser(0, 0, "client3");
  EXPECT_EQ(superuser.Read(secret, 0, 100, &data), ACCES) << "uid 0 without root= is squashed";

  // A read-only export stays read-only when the client clears the handle's bit.
  Handle ro = c.Mount("/d/ro");
  ASSERT_EQ(ro.size(), 32u);
  EXPECT_EQ(c.Create(ro, "x", 0644), ROFS);
  ro[0] = char(ro[0] & ~0x20);
  EXPECT_EQ(c.Create(ro, "x", 0644), ROFS);
  EXPECT_FALSE(std::filesystem::exists(Host("d/ro/x")));

  STATFS2resok fs{};
  ASSERT_EQ(c.Statfs(root, &fs), NFS_OK);
  EXPECT_EQ(fs.tsize, 4096u);
  // A READ asks for 8192 bytes and gets the transfer size.
  Handle long_file;
  ASSERT_EQ(c.Lookup(root, "long", &long_file), NFS_OK);
  ASSERT_EQ(c.Read(long_file, 0, 8192, &data), NFS_OK);
  EXPECT_TRUE(data == Pattern(10000, 7).substr(0, 4096));
  EXPECT_GT(fs.blocks, 0u);
}

}  // namespace

namespace {

// Every READDIR of a listing with this count, collected; each reply within the count.
std::vector<NfsClient::Entry> ListAll(NfsClient &c, const Handle &dir, uint32_t count) {
  std::vector<NfsClient::Entry> all;
  bool eof = false;
  uint32_t cookie = 0;
  for (int calls = 0; !eof && calls < 100000; ++calls) {
    size_t before = all.size();
    EXPECT_EQ(c.Readdir(dir, cookie, count, all, eof), NFS_OK);
    EXPECT_LE(c.last_reply_size(), count);
    if (all.size() == before && !eof) {
      ADD_FAILURE() << "READDIR made no progress after cookie " << cookie;
      break;
    }
    if (all.size() > before) cookie = all.back().cookie;
  }
  return all;
}

TEST_F(Nfs, ReaddirCookiesSurviveChangesBetweenCalls) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  MakeExportDir("d/ex");
  MakeExportDir("d/ex/big");
  const int kEntries = 10000;
  char name[16];
  for (int i = 0; i < kEntries; ++i) {
    snprintf(name, sizeof name, "n%05d", i);
    qxtest::WriteFile(Host("d/ex/big/") + name, "");
  }
  WriteExports("d:\\ex\n");
  Start();
  NfsClient c(kUser, kGroup);
  Handle root = c.Mount("/d/ex"), big;
  ASSERT_EQ(c.Lookup(root, "big", &big), NFS_OK);

  // A whole listing: ".", ".." and every name once, each reply within its count.
  std::vector<NfsClient::Entry> first = ListAll(c, big, 512);
  ASSERT_EQ(first.size(), size_t(kEntries + 2));
  EXPECT_EQ(first[0].name, ".");
  EXPECT_EQ(first[1].name, "..");
  std::map<std::string, int> seen;
  for (const auto &e : first) ++seen[e.name];
  EXPECT_EQ(seen.size(), size_t(kEntries + 2));

  // Continuing from every cookie handed out gives the entry that followed it.
  for (size_t i = 0; i + 1 < first.size(); ++i) {
    std::vector<NfsClient::Entry> next;
    bool eof = false;
    ASSERT_EQ(c.Readdir(big, first[i].cookie, 512, next, eof), NFS_OK);
    ASSERT_FALSE(next.empty()) << "nothing after " << first[i].name;
    ASSERT_EQ(next[0].name, first[i + 1].name) << "after " << first[i].name;
  }
  std::vector<NfsClient::Entry> last;
  bool eof = false;
  ASSERT_EQ(c.Readdir(big, first.back().cookie, 512, last, eof), NFS_OK);
  EXPECT_TRUE(last.empty() && eof);

  // Entries removed and added between the calls of one listing (through the
  // server and on disk): every entry present at both ends comes exactly once.
  std::map<std::string, int> returned;
  std::set<std::string> removed;
  uint32_t cookie = 0;
  eof = false;
  int round = 0;
  while (!eof) {
    std::vector<NfsClient::Entry> piece;
    ASSERT_EQ(c.Readdir(big, cookie, 2048, piece, eof), NFS_OK);
    for (const auto &e : piece) ++returned[e.name];
    if (!piece.empty()) cookie = piece.back().cookie;
    ++round;
    for (int k = 0; k < 3; ++k) {
      int victim = (round * 37 + k * 1511) % kEntries;
      snprintf(name, sizeof name, "n%05d", victim);
      if (removed.insert(name).second) {
        if (k == 0)
          ASSERT_EQ(c.Remove(10, big, name), NFS_OK) << name;
        else
          std::filesystem::remove(Host("d/ex/big/") + name);
      }
      std::string added = "new" + std::to_string(round) + "_" + std::to_string(k);
      if (k == 0)
        ASSERT_EQ(c.Create(big, added, 0644), NFS_OK);
      else
        qxtest::WriteFile(Host("d/ex/big/") + added, "");
    }
    ASSERT_LT(round, 5000);
  }
  for (int i = 0; i < kEntries; ++i) {
    snprintf(name, sizeof name, "n%05d", i);
    if (!removed.count(name)) {
      EXPECT_EQ(returned[name], 1) << name;
    }
  }
  for (const auto &[n, times] : returned) EXPECT_LE(times, 1) << n << " returned twice";

  // READDIR of a file's handle.
  Handle file;
  ASSERT_EQ(c.Lookup(big, "n00001", &file), NFS_OK);
  std::vector<NfsClient::Entry> none;
  EXPECT_EQ(c.Readdir(file, 0, 512, none, eof), 20u);  // NFSERR_NOTDIR
}

TEST_F(Nfs, AcknowledgedWritesSurviveSigkillAndHandlesResolveAfterRestart) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  MakeExportDir("d/ex");
  WriteExports("d:\\ex\n");
  Start("/t:8192");
  NfsClient c(kUser, kGroup);
  Handle root = c.Mount("/d/ex"), dir;
  ASSERT_EQ(c.Mkdir(root, "load", 0755, &dir), NFS_OK);
  const int kFiles = 4;
  std::vector<Handle> files(kFiles);
  for (int f = 0; f < kFiles; ++f) ASSERT_EQ(c.Create(dir, "w" + std::to_string(f), 0644, &files[f]), NFS_OK);

  // A writer keeps writing 8 KB blocks round the files; the server is killed
  // while it writes. Every block the server acknowledged must be on disk.
  std::vector<size_t> acknowledged(kFiles, 0);  // blocks per file
  std::atomic<int> acks{0};
  std::thread writer([&] {
    NfsClient w(kUser, kGroup, "writer");
    w.SetPatience(1, 1000);
    for (int i = 0;; ++i) {
      int f = i % kFiles;
      size_t block = acknowledged[size_t(f)];
      if (w.Write(files[size_t(f)], uint32_t(block * 8192), Pattern(8192, unsigned(f * 1000 + block))) != NFS_OK)
        return;
      ++acknowledged[size_t(f)];
      ++acks;
    }
  });
  ASSERT_TRUE(qxtest::WaitUntil([&] { return acks.load() >= 200; }, 60000));
  qxtest::KillProcessesOfRuntime(dir_ + "/run");
  writer.join();
  for (int f = 0; f < kFiles; ++f) {
    std::string disk = qxtest::ReadFile(Host("d/ex/load/w" + std::to_string(f)));
    ASSERT_GE(disk.size(), acknowledged[size_t(f)] * 8192) << "file " << f;
    for (size_t block = 0; block < acknowledged[size_t(f)]; ++block)
      ASSERT_TRUE(disk.compare(block * 8192, 8192, Pattern(8192, unsigned(f * 1000 + block))) == 0)
          << "file " << f << " block " << block << " was acknowledged but is not on disk";
  }

  // Restarted, the server knows the handles it gave out before. With the
  // largest transfer size the switch takes, READ and STATFS still stay within
  // the protocol's 8192 bytes.
  Start("/t:8196");
  fattr2 attr{};
  EXPECT_EQ(c.Getattr(root, &attr), NFS_OK);
  EXPECT_EQ(c.Getattr(dir, &attr), NFS_OK);
  for (int f = 0; f < kFiles; ++f) {
    ASSERT_EQ(c.Getattr(files[size_t(f)], &attr), NFS_OK) << f;
    std::string data;
    ASSERT_EQ(c.Read(files[size_t(f)], 0, 8196, &data), NFS_OK);
    EXPECT_TRUE(data == Pattern(8192, unsigned(f * 1000))) << f;
  }
  STATFS2resok fs{};
  ASSERT_EQ(c.Statfs(root, &fs), NFS_OK);
  EXPECT_EQ(fs.tsize, 8192u);
}

}  // namespace
