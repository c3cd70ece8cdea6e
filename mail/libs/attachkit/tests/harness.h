// What the attachkit tests share: a private machine (home, runtime directory,
// headless display, the disk audio driver), the library loaded by name as the
// mail client loads it, people answering dialogs and message boxes from a
// timer, and messages with their parts' offsets as the mail client finds them.
#ifndef QX_ATTACHKIT_TEST_HARNESS_H
#define QX_ATTACHKIT_TEST_HARNESS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "attachkit.h"
#include "qx/window.h"
#include "qxtest/support.h"

namespace akt {

namespace fs = std::filesystem;

using qxtest::ReadFile;
using qxtest::WriteFile;

// One private machine per test program: everything lives under root.
struct Machine {
  Machine() {
    fs::create_directories(root + "/home");
    fs::create_directories(root + "/runtime");
    fs::create_directories(root + "/mail");
    fs::create_directories(root + "/bin");
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    qxtest::UseHeadlessDisplay();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (root + "/played.raw").c_str(), 1);
    // Programs the library starts are found along PATH: the stand-ins first.
    setenv("PATH", (root + "/bin:" + std::getenv("PATH")).c_str(), 1);
  }
  std::string mail() const { return root + "/mail"; }
  qxtest::TempDir scratch{"qxattach"};
  std::string root = scratch.path();
};

Machine &TheMachine();

struct Library {
  HMODULE module = nullptr;
  PROCESSMIME processMime = nullptr;
  SENDMIME sendMime = nullptr;
  MIMEGETSPECIAL getSpecial = nullptr;
};
Library &Attachkit();  // loaded once, as the mail client does

// Message boxes answered by a hook: each box is recorded, and answered with the
// next of the queued answers (else its default button).
struct ShownBox {
  std::string caption, text;
  UINT type;
};
std::vector<ShownBox> &Boxes();
std::vector<int> &BoxAnswers();

// A person at the screen: each step runs on a timer tick once the window with
// the given caption exists; a window still open long after the last step is
// cancelled so that a test never hangs.
using Step = std::function<void(HWND)>;
struct Person {
  struct Action {
    std::string caption;
    Step step;
  };
  std::vector<Action> actions;
  size_t next = 0;
  int idle = 0;
  Person &Then(const std::string &caption, Step step) {
    actions.push_back({caption, std::move(step)});
    return *this;
  }
};
// Runs body (which opens modal dialogs) while the person acts.
void WithPerson(Person &person, const std::function<void()> &body);

// Common acts.
void SetText(HWND dialog, int id, const std::string &text);
std::string TextOf(HWND dialog, int id);
void Click(HWND dialog, int id);
// In the save dialog: the suggested name, then the path typed and OK pressed.
Step SaveAs(const std::string &path, std::string *suggested = nullptr);
Step Cancel();

// A message on disk and its parts, found as the mail client's reader finds
// them: a part starts after its boundary line and ends two bytes before the
// next boundary line.
struct PartSpan {
  int32_t start;
  uint32_t end;
};
struct Message {
  std::string path;
  std::vector<PartSpan> parts;
};
Message WriteMessage(const std::string &path, const std::string &bytes, const std::string &boundary);

// Runs ProcessMime on a part through a handle of the test's own.
int32_t Process(const Message &m, size_t part, int32_t mode, HWND owner = nullptr);

// Runs SendMime into a new file and returns what it wrote (and its result).
std::string Send(const std::string &entry, int32_t type, int32_t *result = nullptr);

// A program run to the end with the standard output captured; its exit code.
int RunCommand(const std::string &command, std::string *output = nullptr);

}  // namespace akt

#endif
