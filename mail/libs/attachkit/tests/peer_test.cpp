// Round trips against other MIME implementations: attachments made by
// Python's email package (base64, quoted-printable, 7bit, x-uuencode with and
// without "end", CR LF and LF files) and by mpack decode through ProcessMime
// to the bytes those packages decode; parts written by SendMime decode with
// Python's email package and with munpack to the files sent; wave files are
// converted as an independent Python reading of the conversion says.
#include "harness.h"

#include <sys/stat.h>

#include <cstring>
#include <map>

using namespace akt;

namespace {

const std::string &PeerScript() {
  static const std::string script =
      std::string(std::getenv("QX_TEST_SOURCE_DIR")) + "/mail/libs/attachkit/tests/peers.py";
  return script;
}

std::string Dir(const std::string &name) {
  const std::string d = TheMachine().root + "/" + name;
  fs::create_directories(d);
  return d;
}

class Peers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NE(Attachkit().module, nullptr); }
};

TEST_F(Peers, PartsMadeByPythonAndMpackDecodeToTheSameBytes) {
  const std::string dir = Dir("made");
  std::string out;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " make " + dir + " 2>&1", &out), 0) << out;
  std::istringstream manifest(ReadFile(dir + "/manifest"));
  int cases = 0;
  for (std::string line; std::getline(manifest, line);) {
    std::istringstream fields(line);
    std::string name, boundary, expected;
    std::getline(fields, name, '\t');
    std::getline(fields, boundary, '\t');
    std::getline(fields, expected, '\t');
    const std::string eml = dir + "/" + name + ".eml";
    const Message m = WriteMessage(eml, ReadFile(eml), boundary);
    ASSERT_EQ(m.parts.size(), 1u) << name;
    const std::string saved = dir + "/" + name + ".saved";
    Person person;
    const bool audio = name == "py-audio";
    person.Then(audio ? "Save Wave File" : "Save Mime Attachment", SaveAs(saved));
    WithPerson(person, [&] { EXPECT_EQ(Process(m, 0, MIME_MODE_SAVE), MIME_HANDLED) << name; });
    if (audio) {
      // audio/basic: saved as a wave file whose samples audioop expands alike.
      std::string why;
      EXPECT_TRUE(fs::copy_file(dir + "/py-audio.mulaw", saved + ".mulaw"));
      EXPECT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " ulaw " + saved + " 2>&1", &why), 0) << why;
    } else {
      EXPECT_EQ(ReadFile(saved), ReadFile(dir + "/" + expected)) << name;
    }
    ++cases;
  }
  EXPECT_GT(cases, 30);
}

std::string Binary(size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned v = seed;
  for (auto &c : s) {
    v = v * 1103515245 + 12345;
    c = static_cast<char>(v >> 16);
  }
  return s;
}

// The message the mail client writes around SendMime's part.
std::string Around(const std::string &part) {
  return "From: user@example.org\r\nTo: peer@example.org\r\nSubject: sent\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"=sent=\"\r\n\r\n--=sent=\r\n" +
         part + "--=sent=--\r\n";
}

TEST_F(Peers, PartsWrittenBySendMimeDecodeWithPythonAndMunpack) {
  const std::string dir = Dir("sent"), files = Dir("sources"), unpacked = Dir("unpacked");
  std::map<std::string, std::string> sources;  // file name -> bytes
  for (size_t n : {0, 1, 2, 3, 53, 54, 55, 107, 108, 109, 1000, 250001}) {
    const std::string name = "data" + std::to_string(n) + ".zip";
    sources[name] = Binary(n, static_cast<unsigned>(n));
  }
  sources["picture.gif"] = "GIF89a" + Binary(200, 3);
  sources["zeros.bin"] = std::string(5000, '\0');
  for (const auto &[name, bytes] : sources) {
    WriteFile(files + "/" + name, bytes);
    int32_t result = -1;
    const std::string part = Send(files + "/" + name, MIME_ATTACH_FILE, &result);
    ASSERT_EQ(result, 0) << name;
    WriteFile(dir + "/sent-" + name + ".eml", Around(part));
  }
  std::string out;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " check " + dir + " 2>&1", &out), 0) << out;
  for (const auto &[name, bytes] : sources) {
    const std::string stem = dir + "/sent-" + name;
    std::istringstream info(ReadFile(stem + ".info"));
    std::string filename;
    std::getline(info, filename);
    // Pictures are named .GIF, as the sender names them.
    EXPECT_EQ(filename, name == "picture.gif" ? "picture.GIF" : name);
    EXPECT_EQ(ReadFile(stem + ".decoded"), bytes) << "python: " << name;
    if (bytes.empty()) continue;  // munpack writes no file for an empty part
    ASSERT_EQ(RunCommand("cd " + unpacked + " && munpack -q -t " + stem + ".eml 2>&1", &out), 0) << out;
    EXPECT_EQ(ReadFile(unpacked + "/" + filename), bytes) << "munpack: " << name;
  }
}

TEST_F(Peers, ExternalBodiesParseWithPython) {
  const std::string dir = Dir("external");
  // An FTP pointer and a mail-server pointer, as their blocks are made.
  auto block = [](const std::string &bytes) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
  };
  const std::string ftp("\x03\0\0\0\x0c\0\0\0\x05\0\0\0\x09\0\0\0ftp.example\0/pub\0file.tar\0", 42);
  const HGLOBAL f = block(ftp), m = block(std::string("list@example.org\0help\r\nindex\0", 30));
  const std::string entry_f = "\x01" + std::to_string(reinterpret_cast<uintptr_t>(f));
  const std::string entry_m = "\x01" + std::to_string(reinterpret_cast<uintptr_t>(m));
  WriteFile(dir + "/sent-ftp.eml", Around(Send(entry_f, MIME_ATTACH_FTP)));
  WriteFile(dir + "/sent-mail.eml", Around(Send(entry_m, MIME_ATTACH_MAILSERVER)));
  GlobalFree(f);
  GlobalFree(m);
  std::string out;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " check " + dir + " 2>&1", &out), 0) << out;
  EXPECT_EQ(ReadFile(dir + "/sent-ftp.info"),
            "file.tar\nmessage/external-body\naccess-type=anon-ftp\nsite=ftp.example\ndirectory=/pub\nname=file.tar\n"
            "mode=image\n");
  EXPECT_EQ(ReadFile(dir + "/sent-mail.info"),
            "None\nmessage/external-body\naccess-type=mail-server\nserver=list@example.org\n");
}

TEST_F(Peers, WaveConversionAgreesWithAnIndependentReading) {
  const std::string dir = Dir("wave");
  struct Shape {
    int channels, width, rate, frames;
  } shapes[] = {{2, 2, 22050, 30000}, {1, 1, 11025, 9000}, {1, 2, 44100, 50000}, {2, 1, 6000, 7000}};
  for (const auto &s : shapes) {
    const std::string path = dir + "/tone-" + std::to_string(s.channels) + "-" + std::to_string(s.width) + "-" +
                             std::to_string(s.rate) + ".wav";
    std::string out;
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import wave,math,sys; w=wave.open(sys.argv[1],'wb'); "
                         "w.setnchannels(" +
                             std::to_string(s.channels) + "); w.setsampwidth(" + std::to_string(s.width) +
                             "); w.setframerate(" + std::to_string(s.rate) +
                             "); "
                             "w.writeframes(bytes((i*37+(i>>5)) & 255 for i in range(" +
                             std::to_string(s.frames * s.channels * s.width) + ")))\" " + path + " 2>&1",
                         &out),
              0)
        << out;
    std::string hex;
    ASSERT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " wave " + path, &hex), 0);
    const std::string part = Send(path, MIME_ATTACH_FILE);
    ASSERT_EQ(part.rfind("Content-Type: audio/basic\r\n", 0), 0u) << path;
    WriteFile(dir + "/sent-w.eml", Around(part));
    ASSERT_EQ(RunCommand("/usr/bin/python3 " + PeerScript() + " check " + dir + " 2>&1", &out), 0) << out;
    const std::string decoded = ReadFile(dir + "/sent-w.decoded");
    std::string decoded_hex;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char c : decoded) decoded_hex += {kHex[c >> 4], kHex[c & 15]};
    EXPECT_EQ(decoded_hex, hex) << path;
  }
}

}  // namespace
