#include "gophernicus_peer.h"

#include <sys/stat.h>

#include "qxtest/loopback.h"

namespace gophertest {
namespace {

std::string Line(char type, const std::string &display, const std::string &selector,
                 const std::string &host = "127.0.0.1", int port = 70) {
  return std::string(1, type) + display + "\t" + selector + "\t" + host + "\t" + std::to_string(port) + "\r\n";
}

bool Write(const std::string &path, const std::string &bytes, mode_t mode = 0644) {
  return qxtest::WriteFile(path, bytes) && chmod(path.c_str(), mode) == 0;
}

}  // namespace

std::string MakeTree(const std::string &root) {
  for (const char *dir : {"/docs", "/big", "/cgi-bin"})
    if (mkdir((root + dir).c_str(), 0755) != 0) return "cannot make " + root + dir;
  std::string text;
  for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + " of the manual\twith a tab\r\n";
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
  binary += "\r\n.\r\n";  // a binary keeps even a final end line
  std::string big;
  for (int i = 0; i < kBigMenu; ++i) big += Line('0', "Item " + std::to_string(i), "/docs/manual.txt");
  const bool ok =
      Write(root + "/docs/manual.txt", text) && Write(root + "/docs/data.bin", binary) &&
      Write(root + "/gophermap", "Welcome to the test tree\r\n" + Line('1', "Documents", "/docs") +
                                     Line('7', "Search the tree", "/cgi-bin/search") + Line('1', "A big menu", "/big") +
                                     Line('8', "Library terminal", "guest", "library.example", 2323) +
                                     Line('8', "Hostile terminal", "", "host; rm -rf /", 23)) &&
      Write(root + "/docs/gophermap",
            Line('0', "The manual", "/docs/manual.txt") + Line('9', "Some data", "/docs/data.bin")) &&
      Write(root + "/big/gophermap", big) &&
      Write(root + "/cgi-bin/search",
            "#!/bin/sh\nprintf '0Found %s\\t/docs/manual.txt\\t127.0.0.1\\t70\\r\\n' \"$QUERY_STRING\"\n", 0755);
  return ok ? "" : "cannot write the tree under " + root;
}

GophernicusPeer::GophernicusPeer() {
  error_ = MakeTree(tree_.path());
  if (!error_.empty()) return;
  // -nm: no hit counts in System V shared memory, which every run on the
  // machine shares; past 4,096 hits in half an hour gophernicus sleeps a
  // second before each answer.
  server_ = std::make_unique<qxtest::Child>(
      std::vector<std::string>{"/usr/bin/socat", "TCP-LISTEN:70,bind=127.0.0.1,reuseaddr,fork",
                               "EXEC:gophernicus -h 127.0.0.1 -p 70 -nf -nv -nm -r " + tree_.path() + ",su=nobody"});
  const bool up = qxtest::WaitUntil(
      [] {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = qxtest::Loopback(70);
        const bool ok = connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
        closesocket(s);
        return ok;
      },
      10000);
  if (!up) error_ = "socat with gophernicus did not listen on 127.0.0.1:70 (install socat and gophernicus)";
}

}  // namespace gophertest
