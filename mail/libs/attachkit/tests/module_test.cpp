// attachkit as the mail client uses it: loaded by name, parts of messages on
// disk handed to ProcessMime (shown, played, saved through the save dialog,
// fetched or requested), attachments written by SendMime, special attachments
// made through MimeGetSpecial's dialogs. Headless: a person answers the
// dialogs from a timer; the shell's viewer and the FTP client are recording
// stand-ins; sound goes to SDL's disk audio driver.
#include "harness.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "codec.h"
#include "mulaw.h"

using namespace akt;

namespace {

std::string B64(const std::string &data) {
  struct Sink : attachkit::ByteSink {
    bool Write(const uint8_t *d, size_t n) override {
      s.append(reinterpret_cast<const char *>(d), n);
      return true;
    }
    std::string s;
  } sink;
  attachkit::Base64LineWriter w(sink);
  w.Write(reinterpret_cast<const uint8_t *>(data.data()), data.size());
  w.Finish();
  return sink.s;
}

std::string Binary(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 3)) & 0xFF);
  return s;
}

// A multipart message whose parts are the given header-and-body texts.
std::string Multipart(const std::vector<std::string> &parts, const std::string &eol = "\r\n") {
  std::string m = "From: a@example.org" + eol + "To: user@example.org" + eol + "Subject: parts" + eol +
                  "MIME-Version: 1.0" + eol + "Content-Type: multipart/mixed; boundary=\"XyZ\"" + eol + eol +
                  "preamble" + eol;
  for (const auto &p : parts) m += "--XyZ" + eol + p + eol;
  return m + "--XyZ--" + eol;
}

std::string MailFile(const std::string &name) { return TheMachine().mail() + "/" + name; }
bool Exists(const std::string &path) { return fs::exists(path); }

class Module : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(Attachkit().module, nullptr) << "attachkit.DLL not loaded";
    ASSERT_TRUE(Attachkit().processMime && Attachkit().sendMime && Attachkit().getSpecial);
    // The desktop's viewer and the FTP client: stand-ins that record what they get.
    const std::string record = TheMachine().root + "/bin/record-open";
    // The viewer's working directory first: a test waits for opened.txt.
    WriteFile(record, "#!/bin/sh\npwd -P >> \"" + TheMachine().root + "/opened-cwd.txt\"\nprintf '%s\\n' \"$1\" >> \"" +
                          TheMachine().root + "/opened.txt\"\n");
    chmod(record.c_str(), 0755);
    ASSERT_TRUE(WriteProfileStringA("Shell", "Open", (record + " %1").c_str()));
    const std::string mover = TheMachine().root + "/bin/filemover";
    WriteFile(mover, "#!/bin/sh\nprintf '%s\\n' \"$QX_CMDLINE\" >> \"" + TheMachine().root + "/filemover.txt\"\n");
    chmod(mover.c_str(), 0755);
  }
  void SetUp() override {
    std::error_code ec;
    fs::remove_all(TheMachine().mail(), ec);
    fs::create_directories(TheMachine().mail());
    fs::remove(TheMachine().root + "/opened.txt", ec);
    fs::remove(TheMachine().root + "/opened-cwd.txt", ec);
    fs::remove(TheMachine().root + "/filemover.txt", ec);
    Boxes().clear();
    BoxAnswers().clear();
  }
  static std::vector<std::string> Lines(const std::string &path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Waits for a started stand-in to have written its record.
  static std::vector<std::string> Recorded(const std::string &name, size_t count) {
    const std::string path = TheMachine().root + "/" + name;
    for (int i = 0; i < 1000 && Lines(path).size() < count; ++i) Sleep(10);
    return Lines(path);
  }
};

// ---------------------------------------------------------------------------
// Receiving
// ---------------------------------------------------------------------------

TEST_F(Module, PartsThatAreNotActedOn) {
  const std::string path = MailFile("m1.msg");
  const auto m = WriteMessage(path,
                              Multipart({"Content-Transfer-Encoding: base64\r\nContent-Type: image/gif\r\n\r\nR0lG",
                                         "Content-Type: audio/x-wav\r\n\r\nRIFF"}),
                              "XyZ");
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_NOT_HANDLED);
  EXPECT_EQ(Process(m, 1, MIME_MODE_SHOW), MIME_NOT_HANDLED);
  EXPECT_FALSE(Exists(TheMachine().root + "/opened.txt"));
  EXPECT_EQ(fs::directory_iterator(TheMachine().mail())->path().filename(), "m1.msg");
}

TEST_F(Module, ImagesAreDecodedToNumberedNamesAndOpened) {
  const std::string jpeg = Binary(3000, 1), tiff = Binary(100, 2), gif = "GIF89a" + Binary(50, 3);
  const auto m = WriteMessage(
      MailFile("m2.msg"),
      Multipart(
          {"Content-Type: IMAGE/JPEG\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(jpeg),
           "Content-Type: image/tiff\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(tiff),
           "Content-Type: image/gif; name=\"../../x.exe\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(gif)}),
      "XyZ");
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
  EXPECT_EQ(Process(m, 1, MIME_MODE_SHOW), MIME_HANDLED);
  EXPECT_EQ(Process(m, 2, MIME_MODE_SHOW), MIME_HANDLED);
  EXPECT_EQ(ReadFile(MailFile("QXIMG000.jpg")), jpeg);
  EXPECT_EQ(ReadFile(MailFile("QXIMG001.jpg")), jpeg);
  EXPECT_EQ(ReadFile(MailFile("QXIMG000.tif")), tiff);
  EXPECT_EQ(ReadFile(MailFile("QXIMG000.gif")), gif);
  // The viewers run at once: their records come in any order.
  auto opened = Recorded("opened.txt", 4);
  std::sort(opened.begin(), opened.end());
  const std::vector<std::string> expected = {MailFile("QXIMG000.gif"), MailFile("QXIMG000.jpg"),
                                             MailFile("QXIMG000.tif"), MailFile("QXIMG001.jpg")};
  EXPECT_EQ(opened, expected);
  EXPECT_TRUE(Boxes().empty());
}

// The mail client runs in its mail directory; a viewer starts in the user's
// temp folder (made when TEMP names one not there yet), so that nothing it
// writes lands among the mailbox's files.
TEST_F(Module, ViewersStartInTheTempFolderNotTheMailDirectory) {
  const std::string temp = TheMachine().root + "/viewer-temp";
  // GetTempPath takes TMP, then TEMP; both are put back afterwards.
  std::optional<std::string> saved[2];
  const char *names[2] = {"TMP", "TEMP"};
  for (int i = 0; i < 2; ++i)
    if (const char *v = std::getenv(names[i])) saved[i] = v;
  unsetenv("TMP");
  setenv("TEMP", temp.c_str(), 1);
  char before[MAX_PATH] = "";
  ASSERT_GT(GetCurrentDirectoryA(sizeof before, before), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(TheMachine().mail().c_str()));
  const auto m = WriteMessage(
      MailFile("m9.msg"),
      Multipart({"Content-Type: image/jpeg\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(Binary(100, 9))}),
      "XyZ");
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
  SetCurrentDirectoryA(before);
  for (int i = 0; i < 2; ++i) {
    if (saved[i])
      setenv(names[i], saved[i]->c_str(), 1);
    else
      unsetenv(names[i]);
  }
  EXPECT_EQ(Recorded("opened.txt", 1), std::vector<std::string>{MailFile("QXIMG000.jpg")});
  ASSERT_TRUE(fs::is_directory(temp)) << "the temp folder was not made";
  EXPECT_EQ(Lines(TheMachine().root + "/opened-cwd.txt"), std::vector<std::string>{fs::canonical(temp).string()})
      << "the viewer's working directory";
}

TEST_F(Module, ImagesTheViewerMustNotOpenAreOfferedForSaving) {
  // image/x-msdownload would be "QXIMG000.x-m"; image without a subtype "ukn":
  // neither goes to the desktop's opener.
  const std::string bytes = Binary(500, 4);
  const auto m =
      WriteMessage(MailFile("m3.msg"),
                   Multipart({"Content-Type: image/x-msdownload\r\nContent-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=\"run.exe\"\r\n\r\n" +
                                  B64(bytes),
                              "Content-Type: image\r\nContent-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=\"=?ISO-8859-1?Q?caf=E9_menu.png?=\"\r\n\r\n" +
                                  B64(bytes)}),
                   "XyZ");
  std::string suggested;
  const std::string saved = TheMachine().root + "/saved.bin";
  Person person;
  std::string second;
  person.Then("Save Image", SaveAs(saved, &suggested)).Then("Save Image", [&](HWND d) {
    second = TextOf(d, edt1);
    Click(d, IDCANCEL);
  });
  WithPerson(person, [&] {
    EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
    EXPECT_EQ(Process(m, 1, MIME_MODE_SHOW), MIME_HANDLED);
  });
  EXPECT_EQ(suggested, "run.exe");
  EXPECT_EQ(second, "caf\xE9 menu.png");  // encoded words decoded
  EXPECT_EQ(ReadFile(saved), bytes);
  EXPECT_FALSE(Exists(TheMachine().root + "/opened.txt"));
}

TEST_F(Module, SaveDialogSuggestsTheNameAndTheCallersPointerStays) {
  const std::string data = Binary(70000, 5);
  const auto m = WriteMessage(MailFile("m4.msg"),
                              Multipart({"Content-Type: application/zip\r\nContent-Transfer-Encoding: base64\r\n"
                                         "Content-Disposition: attachment;\r\n\tfilename=\"my archive.zip\"\r\n\r\n" +
                                         B64(data)}),
                              "XyZ");
  HANDLE file = CreateFileA(m.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(SetFilePointer(file, 17, nullptr, FILE_BEGIN), 17u);
  std::string suggested;
  DWORD pointer_during_dialog = 0;
  const std::string saved = TheMachine().root + "/archive.zip";
  Person person;
  person.Then("Save Mime Attachment", [&](HWND d) {
    pointer_during_dialog = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
    SaveAs(saved, &suggested)(d);
  });
  int32_t result = -1;
  WithPerson(person, [&] {
    result = Attachkit().processMime(file, m.parts[0].start, m.parts[0].end, TheMachine().mail().c_str(),
                                     "user@example.org", MIME_MODE_SHOW, nullptr);
  });
  EXPECT_EQ(result, MIME_HANDLED);
  EXPECT_EQ(suggested, "my archive.zip");
  EXPECT_EQ(ReadFile(saved), data);
  EXPECT_EQ(pointer_during_dialog, 17u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 17u);
  CloseHandle(file);
}

TEST_F(Module, EmbeddedMessagesAreSavedAndAnsweredWithZero) {
  const std::string inner = "From: b@example.org\r\nSubject: inner\r\n\r\nhello\r\n";
  const auto m = WriteMessage(MailFile("m5.msg"), Multipart({"Content-Type: message/rfc822\r\n\r\n" + inner}), "XyZ");
  const std::string saved = TheMachine().root + "/inner.eml";
  Person person;
  person.Then("Save Mime Attachment", SaveAs(saved));
  // The mail client reads its message files as C runtime streams and hands
  // over the handle underneath.
  FILE *stream = fopen(m.path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(fseek(stream, 5, SEEK_SET), 0);
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  WithPerson(person, [&] {
    EXPECT_EQ(Attachkit().processMime(handle, m.parts[0].start, m.parts[0].end, TheMachine().mail().c_str(),
                                      "user@example.org", MIME_MODE_SAVE, nullptr),
              MIME_NOT_HANDLED);
  });
  EXPECT_EQ(ftell(stream), 5);
  fclose(stream);
  // Exactly the part's bytes: its own last line end is kept, the one before
  // the boundary belongs to the boundary.
  EXPECT_EQ(ReadFile(saved), inner);
}

TEST_F(Module, OutputThatCannotBeCreatedIsReported) {
  const auto m =
      WriteMessage(MailFile("m6.msg"), Multipart({"Content-Type: application/octet-stream\r\n\r\ndata"}), "XyZ");
  Person person;
  person.Then("Save Mime Attachment", SaveAs(TheMachine().root + "/no/such/dir/x.bin"));
  WithPerson(person, [&] { EXPECT_EQ(Process(m, 0, MIME_MODE_SAVE), MIME_HANDLED); });
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "QX-Mime");
  EXPECT_EQ(Boxes()[0].text, "Unable to create output File");
  EXPECT_TRUE(Boxes()[0].type & MB_ICONERROR);
}

// ---------------------------------------------------------------------------
// Sound
// ---------------------------------------------------------------------------

std::string Expanded(const std::string &mulaw) {
  std::string s;
  for (unsigned char c : mulaw) s.push_back(static_cast<char>(attachkit::kMulawExpand[c]));
  return s;
}

std::string SunFile(const std::string &mulaw, uint32_t offset) {
  std::string h = ".snd";
  for (uint32_t v : {offset, static_cast<uint32_t>(mulaw.size()), 1u, 8000u, 1u})
    for (int i = 3; i >= 0; --i) h.push_back(static_cast<char>(v >> (8 * i)));
  h.resize(offset, '\0');
  return h + mulaw;
}

TEST_F(Module, AudioBasicIsSavedAsWave) {
  const std::string mulaw = Binary(3001, 6);
  const auto m = WriteMessage(
      MailFile("m7.msg"),
      Multipart({"Content-Type: audio/basic\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(SunFile(mulaw, 32)),
                 "Content-Type: audio\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(mulaw)}),
      "XyZ");
  const std::string first = TheMachine().root + "/first.wav", second = TheMachine().root + "/second.wav";
  Person person;
  person.Then("Save Wave File", SaveAs(first)).Then("Save Wave File", SaveAs(second));
  WithPerson(person, [&] {
    EXPECT_EQ(Process(m, 0, MIME_MODE_SAVE), MIME_HANDLED);
    EXPECT_EQ(Process(m, 1, MIME_MODE_SAVE), MIME_HANDLED);
  });
  for (const auto &path : {first, second}) {
    const std::string wave = ReadFile(path);
    ASSERT_EQ(wave.size(), 44 + 3001 + 1) << path;  // an odd data chunk is padded
    EXPECT_EQ(wave.substr(0, 4), "RIFF");
    EXPECT_EQ(wave.substr(44, 3001), Expanded(mulaw)) << path;
    // Python's wave module reads it as 8000 Hz mono 8-bit with every sample.
    std::string info;
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                         "print(w.getframerate(), w.getnchannels(), w.getsampwidth(), w.getnframes())\" " +
                             path,
                         &info),
              0);
    EXPECT_EQ(info, "8000 1 1 3001\n");
  }
}

TEST_F(Module, AudioBasicIsPlayedAndLeavesNoFile) {
  // A second of a tone, far from silence, behind our own 28-byte header.
  std::string pcm, mulaw;
  for (int i = 0; i < 8000; ++i) pcm.push_back(static_cast<char>(128 + 90 * ((i / 10) % 2 ? 1 : -1)));
  for (unsigned char c : pcm) mulaw.push_back(static_cast<char>(attachkit::kMulawCompress[c]));
  const auto m = WriteMessage(
      MailFile("m8.msg"),
      Multipart({"Content-Type: audio/basic\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(SunFile(mulaw, 28))}),
      "XyZ");
  const std::string played = TheMachine().root + "/played.raw";
  std::error_code ec;
  fs::remove(played, ec);
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
  // The disk driver received exactly the expanded samples after its silence.
  const std::string stream = ReadFile(played), expected = Expanded(mulaw);
  EXPECT_NE(stream.find(expected), std::string::npos) << "played " << stream.size() << " bytes";
  for (const auto &entry : fs::directory_iterator(TheMachine().mail()))
    EXPECT_EQ(entry.path().filename().string().rfind("QXWAV", 0), std::string::npos) << entry.path();
}

// ---------------------------------------------------------------------------
// External bodies
// ---------------------------------------------------------------------------

// The FTP client's reading of its command line: blanks separate tokens, a
// double quote toggles quoting and is dropped.
std::vector<std::string> FtpTokens(const std::string &line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    std::string token;
    bool quoted = false;
    for (; i < line.size() && (quoted || line[i] != ' '); ++i) {
      if (line[i] == '"')
        quoted = !quoted;
      else
        token.push_back(line[i]);
    }
    tokens.push_back(token);
  }
  return tokens;
}

TEST_F(Module, AnonymousFtpReferencesStartTheFtpClient) {
  const auto m = WriteMessage(
      MailFile("m9.msg"),
      Multipart({"Content-Type: message/external-body; access-type=anon-ftp;\r\n\tsite=\"ftp.example.org\"; "
                 "name=\"README\"\r\n\r\n\r\n",
                 "Content-Type: Message/External-Body; ACCESS-TYPE=ANON-FTP; site=ftp.example.org;\r\n"
                 " directory=\"/pub/a dir\"; name=\"../../etc/x y.tar\"; mode=image\r\n\r\n\r\n",
                 "Content-Type: message/external-body; access-type=anon-ftp; site=\"a\\\" b\"; name=x\r\n\r\n"}),
      "XyZ");
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_NOT_HANDLED);  // started: 0
  EXPECT_EQ(Process(m, 1, MIME_MODE_SHOW), MIME_NOT_HANDLED);
  // A site that cannot stand as one token is not handed on.
  EXPECT_EQ(Process(m, 2, MIME_MODE_SHOW), MIME_HANDLED);
  // The two clients run at once: their records come in either order.
  const auto calls = Recorded("filemover.txt", 2);
  ASSERT_EQ(calls.size(), 2u);
  std::vector<std::vector<std::string>> got = {FtpTokens(calls[0]), FtpTokens(calls[1])};
  std::sort(got.begin(), got.end());
  const std::vector<std::vector<std::string>> expected = {
      {"filemover", "ftp.example.org", "anonymous", "user@example.org", "", "", "README", TheMachine().mail(), "ascii"},
      {"filemover", "ftp.example.org", "anonymous", "user@example.org", "", "/pub/a dir", "x y.tar",
       TheMachine().mail(), "image"}};
  EXPECT_EQ(got, expected);
}

TEST_F(Module, FtpReferencesAskForTheLogin) {
  const auto m = WriteMessage(MailFile("m10.msg"),
                              Multipart({"Content-Type: message/external-body; access-type=ftp; site=h.example; "
                                         "directory=d; name=f.txt; mode=ascii\r\n\r\n\r\n"}),
                              "XyZ");
  Person person;
  person
      .Then("Remote Ftp Access",
            [](HWND d) {
              SetText(d, 100, "fred");
              SetText(d, 101, "se cret");
              Click(d, IDOK);
            })
      .Then("Remote Ftp Access", Cancel());
  WithPerson(person, [&] {
    EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_NOT_HANDLED);
    EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_NOT_HANDLED);  // cancelled
  });
  const auto calls = Recorded("filemover.txt", 1);
  ASSERT_EQ(calls.size(), 1u);
  const std::vector<std::string> tokens = {"filemover", "h.example",         "fred", "se cret", "", "d",
                                           "f.txt",     TheMachine().mail(), "ascii"};
  EXPECT_EQ(FtpTokens(calls[0]), tokens);
}

TEST_F(Module, MailServerRequestsAreQueuedAfterTheUserAgrees) {
  WriteFile(MailFile("tosendm.000"), "x");
  WriteFile(MailFile("tosendm.001"), "y");
  const std::string part =
      "Content-Type: message/external-body; access-type=mail-server;\r\n\tserver=\"listserv@example.org\"\r\n\r\n";
  const auto m =
      WriteMessage(MailFile("m11.msg"),
                   Multipart({part + "Subject: ignored\r\n\r\nget file 100%\nhelp\r\n", part + "subscribe list\r\n",
                              "Content-Type: message/external-body; access-type=mail-server\r\n\r\nx"}),
                   "XyZ");
  BoxAnswers() = {IDYES, IDNO, IDYES};
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_MAIL_QUEUED);
  EXPECT_EQ(Process(m, 1, MIME_MODE_SHOW), MIME_HANDLED);      // the user said no
  EXPECT_EQ(Process(m, 2, MIME_MODE_SHOW), MIME_NOT_HANDLED);  // no server
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_NE(Boxes()[0].text.find("listserv@example.org"), std::string::npos);
  // The message to send, without the header of the message the part names.
  EXPECT_EQ(ReadFile(MailFile("tosendm.002")), "get file 100%\r\nhelp\r\n");
  const std::vector<std::string> header = {"0\r",
                                           "user@example.org\r",
                                           "Mime-Mail-Server\r",
                                           "listserv@example.org\r",
                                           "\r",
                                           "\r",
                                           "\r",
                                           "\r",
                                           "\r",
                                           "\r",
                                           "\r",
                                           "0\r"};
  EXPECT_EQ(Lines(MailFile("tosendh.002")), header);  // the count is line 12, as the queue reads it
  EXPECT_FALSE(Exists(MailFile("tosendm.003")));
}

// The request waits for the send queue's write lock that a mail client (here
// another process) holds, and is queued whole once it is let go.
TEST_F(Module, MailServerRequestWaitsForTheQueueLock) {
  const std::string released = TheMachine().root + "/lock-released";
  fs::remove(released);
  int held[2];
  ASSERT_EQ(pipe(held), 0);
  std::fflush(nullptr);
  const pid_t holder = fork();
  if (holder == 0) {
    HANDLE lock = CreateFileA(MailFile("tosendw.lck").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const char c = lock != INVALID_HANDLE_VALUE ? 'y' : 'n';
    if (write(held[1], &c, 1) != 1) _exit(1);
    usleep(500000);
    WriteFile(released, "");
    _exit(0);  // the lock goes with the process
  }
  close(held[1]);
  char c = 0;
  ASSERT_EQ(read(held[0], &c, 1), 1);
  close(held[0]);
  ASSERT_EQ(c, 'y') << "the other process could not take the lock";
  const auto m = WriteMessage(MailFile("m12.msg"),
                              Multipart({"Content-Type: message/external-body; access-type=mail-server; "
                                         "server=listserv@example.org\r\n\r\nsubscribe list\r\n"}),
                              "XyZ");
  BoxAnswers() = {IDYES};
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_MAIL_QUEUED);
  EXPECT_TRUE(Exists(released)) << "queued while the other process held the lock";
  int status = 0;
  waitpid(holder, &status, 0);
  EXPECT_EQ(ReadFile(MailFile("tosendm.000")), "subscribe list\r\n");
  EXPECT_EQ(Lines(MailFile("tosendh.000")).size(), 12u);
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

TEST_F(Module, FilesAreSentByTheirExtension) {
  struct Case {
    const char *name;
    size_t size;
    const char *type, *filename;
  } cases[] = {
      {"picture.gif", 54, "Content-Type: image/gif", "picture.GIF"},
      {"cat.bmp", 55, "Content-Type: application/octet-stream; type=bmp", "cat.bmp"},
      {"notes", 0, "Content-Type: application/octet-stream; type=UKN", "notes"},
      {"sound.AU", 100, "Content-Type: audio/basic", "sound.AU"},
      {"semi;colon.t;x", 3, "Content-Type: application/octet-stream; type=tx", "semi;colon.t;x"},
  };
  for (const auto &c : cases) {
    const std::string path = TheMachine().root + "/" + c.name;
    const std::string data = Binary(c.size, 7);
    WriteFile(path, data);
    int32_t result = -1;
    const std::string part = Send(path, MIME_ATTACH_FILE, &result);
    EXPECT_EQ(result, 0) << c.name;
    const std::string head = std::string(c.type) + "\r\nContent-Transfer-Encoding: base64\r\n" +
                             "Content-Disposition: attachment; Filename=\"" + c.filename + "\"\r\n\r\n";
    EXPECT_EQ(part, head + B64(data)) << c.name;
  }
  // The line rules: 54 bytes give one full line and "===", 55 a second short line.
  const std::string p54 = Send(TheMachine().root + "/picture.gif", MIME_ATTACH_FILE);
  EXPECT_EQ(p54.substr(p54.find("\r\n\r\n") + 4).size(), 72 + 2 + 5u);
  EXPECT_TRUE(p54.ends_with("\r\n===\r\n"));
  const std::string p55 = Send(TheMachine().root + "/cat.bmp", MIME_ATTACH_FILE);
  EXPECT_TRUE(p55.ends_with("==\r\n") && !p55.ends_with("===\r\n"));
  // A missing file writes nothing; an unknown type writes nothing and succeeds.
  int32_t result = 0;
  EXPECT_EQ(Send(TheMachine().root + "/missing.gif", MIME_ATTACH_FILE, &result), "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Send("x", 9, &result), "");
  EXPECT_EQ(result, 0);
}

TEST_F(Module, TheCallersEntryIsLeftAlone) {
  // Sending again (after a refusal, say) must find the same file again.
  const std::string path = TheMachine().root + "/cat.bmp";
  WriteFile(path, "BM" + Binary(100, 8));
  std::vector<char> entry(path.begin(), path.end());
  entry.push_back('\0');
  HANDLE out = CreateFileA((TheMachine().root + "/o").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(Attachkit().sendMime(out, entry.data(), MIME_ATTACH_FILE), 0);
  EXPECT_EQ(Attachkit().sendMime(out, entry.data(), MIME_ATTACH_FILE), 0);
  CloseHandle(out);
  EXPECT_EQ(std::string(entry.data()), path);
}

// A wave file goes as Sun audio; one the conversion does not know goes as it is.
TEST_F(Module, WaveFilesAreSentAsSunAudio) {
  const std::string wav = TheMachine().root + "/song.Wav";
  ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import wave,math,sys; w=wave.open(sys.argv[1],'wb'); w.setnchannels(2); "
                       "w.setsampwidth(2); w.setframerate(22050); "
                       "w.writeframes(b''.join(int(9000*math.sin(i/9)).to_bytes(2,'little',signed=True)*2 "
                       "for i in range(22050)))\" " +
                       wav),
            0);
  const std::string part = Send(wav, MIME_ATTACH_FILE);
  ASSERT_EQ(part.rfind("Content-Type: audio/basic\r\n", 0), 0u);
  std::string decoded;
  struct Sink : attachkit::ByteSink {
    explicit Sink(std::string &s) : s_(s) {}
    bool Write(const uint8_t *d, size_t n) override {
      s_.append(reinterpret_cast<const char *>(d), n);
      return true;
    }
    std::string &s_;
  } sink(decoded);
  auto decoder = attachkit::MakeDecoder(attachkit::TransferEncoding::kBase64, sink);
  const std::string body = part.substr(part.find("\r\n\r\n") + 4);
  decoder->Feed(reinterpret_cast<const uint8_t *>(body.data()), body.size());
  decoder->Finish();
  ASSERT_EQ(decoded.substr(0, 4), ".snd");
  EXPECT_EQ(decoded.size(), 28 + 8000u);  // one second at 8000 Hz behind the header
  // Not PCM: sent as it is rather than lost.
  const std::string odd = TheMachine().root + "/odd.wav";
  WriteFile(odd, "RIFF\x04\0\0\0WAVEjunk");
  EXPECT_EQ(Send(odd, MIME_ATTACH_FILE).rfind("Content-Type: application/octet-stream; type=wav\r\n", 0), 0u);
}

// ---------------------------------------------------------------------------
// Special attachments
// ---------------------------------------------------------------------------

std::string EntryOf(HGLOBAL block) { return "\x01" + std::to_string(reinterpret_cast<uintptr_t>(block)) + "\\Label"; }

TEST_F(Module, FtpPointerDialogMakesTheBlockAndItsPart) {
  Person person;
  person
      .Then("File Retrieval by FTP",
            [](HWND d) {
              // Binary and Anonymous are chosen at the start.
              EXPECT_EQ(IsDlgButtonChecked(d, 103), BST_CHECKED);
              EXPECT_EQ(IsDlgButtonChecked(d, 105), BST_CHECKED);
              SetText(d, 100, "ftp.example.org");
              SetText(d, 102, "file.tar");
              Click(d, IDOK);  // the directory is missing
            })
      .Then("File Retrieval by FTP",
            [](HWND d) {
              SetText(d, 101, "/pub");
              Click(d, 104);
              Click(d, 106);
              EXPECT_EQ(IsDlgButtonChecked(d, 103), BST_UNCHECKED);
              EXPECT_EQ(IsDlgButtonChecked(d, 105), BST_UNCHECKED);
              Click(d, IDOK);
            })
      .Then("File Retrieval by FTP", Cancel());
  HGLOBAL block = nullptr, none = reinterpret_cast<HGLOBAL>(1);
  WithPerson(person, [&] {
    block = Attachkit().getSpecial(MIME_ATTACH_FTP, nullptr, nullptr);
    none = Attachkit().getSpecial(MIME_ATTACH_FTP, nullptr, nullptr);
  });
  EXPECT_EQ(none, nullptr);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "All fields must be entered");
  // flags 0 (user supplied, ascii), lengths with NULs, the three texts.
  const char expected[] = "\0\0\0\0\x10\0\0\0\x05\0\0\0\x09\0\0\0ftp.example.org\0/pub\0file.tar";
  ASSERT_EQ(GlobalSize(block), sizeof expected);
  EXPECT_EQ(std::memcmp(GlobalLock(block), expected, sizeof expected), 0);
  GlobalUnlock(block);
  EXPECT_EQ(Send(EntryOf(block), MIME_ATTACH_FTP),
            "Content-Type: message/external-body;\r\n\taccess-type=ftp;\r\n\tsite=\"ftp.example.org\";\r\n"
            "\tdirectory=\"/pub\";\r\n\tname=\"file.tar\";\r\n\tmode=ascii\r\n\r\n\r\n");
  EXPECT_EQ(Attachkit().getSpecial(MIME_ATTACH_FTP, block, nullptr), nullptr);
  EXPECT_EQ(GlobalLock(block), nullptr) << "the block was freed";
}

TEST_F(Module, MailServerPointerRoundTrip) {
  Person person;
  person.Then("Mail Server Pointer", [](HWND d) {
    SetText(d, 100, "listserv@example.org");
    SetText(d, 101, "subscribe qx-users\r\nindex 50%");
    Click(d, IDOK);
  });
  HGLOBAL block = nullptr;
  WithPerson(person, [&] { block = Attachkit().getSpecial(MIME_ATTACH_MAILSERVER, nullptr, nullptr); });
  ASSERT_NE(block, nullptr);
  const std::string part = Send(EntryOf(block), MIME_ATTACH_MAILSERVER);
  EXPECT_EQ(part,
            "Content-Type: message/external-body;\r\n\taccess-type=mail-server;\r\n\tserver=\"listserv@example.org\""
            "\r\n\r\n\r\nsubscribe qx-users\r\nindex 50%\r\n");
  Attachkit().getSpecial(MIME_ATTACH_MAILSERVER, block, nullptr);
  // What we send, we receive as the same request.
  const auto m = WriteMessage(MailFile("m12.msg"), Multipart({part.substr(0, part.size() - 2)}), "XyZ");
  BoxAnswers() = {IDYES};
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_MAIL_QUEUED);
  EXPECT_EQ(ReadFile(MailFile("tosendm.000")), "subscribe qx-users\r\nindex 50%\r\n");
}

TEST_F(Module, DamagedEntriesAndBlocksWriteNothing) {
  int32_t result = 0;
  EXPECT_EQ(Send("\x01"
                 "99999",
                 MIME_ATTACH_FTP, &result),
            "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Send("12", MIME_ATTACH_MAILSERVER, &result), "");
  EXPECT_EQ(result, -1);
  // Lengths that run past the block.
  HGLOBAL bad = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 20);
  auto *p = static_cast<uint32_t *>(GlobalLock(bad));
  p[1] = 2;
  p[2] = 1000;
  p[3] = 1;
  GlobalUnlock(bad);
  EXPECT_EQ(Send(EntryOf(bad), MIME_ATTACH_FTP, &result), "");
  EXPECT_EQ(result, -1);
  GlobalFree(bad);
}

// A recording chain as the recorder leaves it: locked blocks, each a wave
// header whose user word is the block's own handle, linked by lpNext.
std::vector<HGLOBAL> MakeChain(const std::vector<std::string> &blocks) {
  std::vector<HGLOBAL> handles;
  WAVEHDR *previous = nullptr;
  for (const auto &samples : blocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(WAVEHDR) + 4 + 8000);
    auto *base = static_cast<uint8_t *>(GlobalLock(h));
    auto *header = reinterpret_cast<WAVEHDR *>(base);
    header->lpData = reinterpret_cast<LPSTR>(base + sizeof(WAVEHDR) + 4);
    header->dwBufferLength = 8000;
    header->dwBytesRecorded = static_cast<DWORD>(samples.size());
    header->dwUser = reinterpret_cast<DWORD_PTR>(h);
    std::memcpy(header->lpData, samples.data(), samples.size());
    if (previous) previous->lpNext = header;
    previous = header;
    handles.push_back(h);
  }
  return handles;
}

TEST_F(Module, RecordingsAreSentAsMulawAndFreedWhole) {
  const std::vector<std::string> blocks = {Binary(8000, 9), Binary(8000, 10), Binary(1234, 11)};
  const auto chain = MakeChain(blocks);
  std::string mulaw;
  for (const auto &b : blocks)
    for (unsigned char c : b) mulaw.push_back(static_cast<char>(attachkit::kMulawCompress[c]));
  EXPECT_EQ(Send(EntryOf(chain[0]), MIME_ATTACH_VOICE),
            "Content-Type: audio/basic\r\nContent-Transfer-Encoding: base64\r\n\r\n" + B64(mulaw));
  EXPECT_EQ(Attachkit().getSpecial(MIME_ATTACH_VOICE, chain[0], nullptr), nullptr);
  for (HGLOBAL h : chain) EXPECT_EQ(GlobalLock(h), nullptr) << "block freed";
  // A chain whose block does not carry its own handle is refused.
  const auto broken = MakeChain({Binary(10, 12), Binary(10, 13)});
  reinterpret_cast<WAVEHDR *>(GlobalLock(broken[1]))->dwUser = 0;
  GlobalUnlock(broken[1]);
  int32_t result = 0;
  Send(EntryOf(broken[0]), MIME_ATTACH_VOICE, &result);
  EXPECT_EQ(result, -1);
}

}  // namespace
