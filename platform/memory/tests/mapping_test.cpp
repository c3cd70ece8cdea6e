// Named mappings between processes: shared contents, ERROR_ALREADY_EXISTS,
// removal after the last close in any process (also when a holder dies),
// owner-only files, and refused views.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char **environ;

namespace {

// Every mapping of this test lives in a private runtime directory.
const std::string &TestRuntimeDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qx-mapping-test-XXXXXX";
    std::string d = mkdtemp(pattern);
    setenv("QX_RUNTIME_DIR", d.c_str(), 1);
    return d;
  }();
  return dir;
}
const bool kRuntimeDirSet = !TestRuntimeDir().empty();

class RemoveRuntimeDir : public ::testing::Environment {
 public:
  void TearDown() override { std::filesystem::remove_all(TestRuntimeDir()); }
};
::testing::Environment *const kCleanup = ::testing::AddGlobalTestEnvironment(new RemoveRuntimeDir);

std::string Peer() {
  const char *bin = std::getenv("QX_BIN_DIR");
  return std::string(bin ? bin : ".") + "/memory_mapping_peer";
}

// A running peer with pipes to its standard input and output.
struct PeerProcess {
  pid_t pid = -1;
  int to = -1, from = -1;

  PeerProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    args.insert(args.begin(), Peer());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to = in[1];
    from = out[0];
  }
  ~PeerProcess() {
    if (to >= 0) close(to);
    if (from >= 0) close(from);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(from, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }
  int Finish() {
    close(to);
    to = -1;
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
};

std::string RunPeer(std::vector<std::string> args) {
  PeerProcess p(std::move(args));
  std::string line = p.ReadLine();
  p.Finish();
  return line;
}

std::vector<std::filesystem::path> MappingFiles() {
  std::vector<std::filesystem::path> files;
  const auto dir = std::filesystem::path(TestRuntimeDir()) / "mappings";
  if (!std::filesystem::exists(dir)) return files;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    if (e.path().filename() != ".lock") files.push_back(e.path());
  return files;
}

TEST(Mapping, TwoProcessesShareTheBlock) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, 200, "@4656:164");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  char *view = static_cast<char *>(MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 200));
  ASSERT_NE(view, nullptr);
  std::strcpy(view, "hand-off block");
  EXPECT_EQ(RunPeer({"open", "@4656:164"}), "hand-off block");
  EXPECT_STREQ(view + 100, "peer");  // the peer's write is seen here
  // The name is escaped into one owner-only file.
  const auto files = MappingFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string file = files[0].filename().string();
  EXPECT_EQ(file.find_first_of(":@\\/"), std::string::npos) << file;
  struct stat st {};
  ASSERT_EQ(stat(files[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(MappingFiles().empty());
  EXPECT_EQ(RunPeer({"open", "@4656:164"}), "error 2");
}

TEST(Mapping, CreateOfAnExistingNameOpensIt) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 300, "@1:2");
  ASSERT_NE(h, nullptr);
  char *view = static_cast<char *>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  std::strcpy(view, "first");
  // Another process asks for 48 bytes, as the mail client does, and gets the
  // existing object with its own size.
  EXPECT_EQ(RunPeer({"create", "@1:2", "48"}), "exists first");
  // The same process: a second handle to the same object.
  HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 48, "@1:2");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(again, h);
  char *second = static_cast<char *>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 300));
  ASSERT_NE(second, nullptr);  // the whole 300 bytes: the object kept its size
  EXPECT_STREQ(second, "first");
  UnmapViewOfFile(second);
  CloseHandle(again);
  UnmapViewOfFile(view);
  CloseHandle(h);
  EXPECT_EQ(RunPeer({"create", "@1:2", "48"}), "new ");  // gone: made anew
}

TEST(Mapping, ObjectLivesUntilTheLastHolderInAnyProcess) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "held:name");
  ASSERT_NE(h, nullptr);
  PeerProcess holder({"hold", "held:name"});
  ASSERT_EQ(holder.ReadLine(), "held");
  EXPECT_TRUE(CloseHandle(h));
  HANDLE reopened = OpenFileMappingA(FILE_MAP_READ, FALSE, "held:name");
  EXPECT_NE(reopened, nullptr);  // the peer still holds it
  CloseHandle(reopened);
  holder.Finish();
  SetLastError(0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "held:name"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(MappingFiles().empty());
}

TEST(Mapping, HolderThatDiedLeavesNoObject) {
  PeerProcess dying({"die", "crash@1", "128"});
  EXPECT_EQ(dying.ReadLine(), "dying");
  int status = dying.Finish();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(MappingFiles().size(), 1u);  // left behind by the killed process
  SetLastError(0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "crash@1"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  PeerProcess dying_again({"die", "crash@2", "128"});
  dying_again.ReadLine();
  dying_again.Finish();
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "crash@2");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // a new, empty object
  char *view = static_cast<char *>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(view[0], 0);
  UnmapViewOfFile(view);
  CloseHandle(h);
  EXPECT_TRUE(MappingFiles().empty());
}

TEST(Mapping, ConcurrentCreateAndCloseLeaveNothingBehind) {
  std::vector<std::unique_ptr<PeerProcess>> peers;
  for (int i = 0; i < 4; ++i)
    peers.push_back(std::make_unique<PeerProcess>(std::vector<std::string>{"churn", "@9:9", "150"}));
  for (auto &p : peers) EXPECT_EQ(p->ReadLine(), "ok");
  for (auto &p : peers) EXPECT_EQ(p->Finish(), 0);
  EXPECT_TRUE(MappingFiles().empty());
}

TEST(Mapping, ViewKeepsTheObjectAfterItsHandleCloses) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "viewed");
  void *view = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  CloseHandle(h);
  HANDLE again = OpenFileMappingA(FILE_MAP_READ, FALSE, "viewed");
  EXPECT_NE(again, nullptr);
  CloseHandle(again);
  EXPECT_TRUE(FlushViewOfFile(static_cast<char *>(view) + 10, 5));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "viewed"), nullptr);
}

TEST(Mapping, ViewSizeIsFoundWithVirtualQuery) {
  // How a receiver learns how much of the block it may read.
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 5000, "sized");
  char *view = static_cast<char *>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(view + 10, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.AllocationBase, view);
  EXPECT_EQ(info.BaseAddress, view);  // the page holding the address
  const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(info.RegionSize, (5000 + page - 1) / page * page);
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_MAPPED));
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
  int local = 0;
  ASSERT_EQ(VirtualQuery(&local, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_EQ(VirtualQuery(view, &info, 4), 0u);
  UnmapViewOfFile(view);
  CloseHandle(h);
}

TEST(Mapping, BadRequestsAreRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "empty"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, 0x40, 0, 10, "x"), nullptr);
  EXPECT_EQ(CreateFileMappingA(nullptr, nullptr, PAGE_READWRITE, 0, 10, "x"), nullptr);
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10, std::string(300, 'n').c_str()),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, ""), nullptr);

  HANDLE ro = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 100, nullptr);
  ASSERT_NE(ro, nullptr);
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_READ, 0, 0, 101), nullptr);   // beyond the end
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_READ, 0, 4096, 0), nullptr);  // not on 64 KB
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
  void *view = MapViewOfFile(ro, FILE_MAP_READ, 0, 0, 0);
  EXPECT_NE(view, nullptr);
  UnmapViewOfFile(view);
  CloseHandle(ro);
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  int local = 0;
  EXPECT_FALSE(FlushViewOfFile(&local, 4));
}

}  // namespace
