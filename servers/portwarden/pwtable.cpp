/* pwtable: lists and edits portwarden's table file "PORTWARDEN.CFG" from the
 * command line (the file portwarden reads at start-up). */
#include "table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: pwtable [-f FILE | -w] list\n"
    "       pwtable [--force] [-f FILE | -w] defaults\n"
    "       pwtable [--force] [-f FILE | -w] enable SLOT|NAME...\n"
    "       pwtable [--force] [-f FILE | -w] disable SLOT|NAME...\n"
    "       pwtable [--force] [-f FILE | -w] set SLOT [name=N] [program=P] [params=TEXT]\n"
    "                        [proto=tcp|udp] [port=N] [max=N] [keep=0|1] [enabled=0|1]\n"
    "       pwtable [--force] [-f FILE | -w] delete SLOT\n"
    "       pwtable [--force] [-f FILE | -w] logging on|off\n"
    "Without -f the file is PORTWARDEN.CFG found by the usual file search (else the\n"
    "current directory); -w is the one in the Windows directory, which the service\n"
    "finds. A missing file starts from the 12 default rows. A file that cannot be\n"
    "read whole is never replaced unless --force is given: the rows that could be\n"
    "read are then written back with the change. A running service reads its file\n"
    "when it starts: restart it to use the changes.\n";

int FindSlot(const char *text) {
  char *end = nullptr;
  long index = strtol(text, &end, 10);
  if (*text && end && *end == '\0') return (index >= 0 && index < MAX_SERVICES) ? (int)index : -1;
  for (int i = 0; i < MAX_SERVICES; i++)
    if ((g_Slots[i].flags & SLOT_USED) && _stricmp(g_Slots[i].name.c_str(), text) == 0) return i;
  return -1;
}

void List() {
  printf("logging %s\n", g_Logging ? "on" : "off");
  printf("slot %-14s %-14s %-5s %5s %3s %-8s %s\n", "name", "program", "proto", "port", "max", "state", "parameters");
  for (int i = 0; i < MAX_SERVICES; i++) {
    const SERVICE_SLOT &s = g_Slots[i];
    if (!(s.flags & SLOT_USED)) continue;
    printf("%4d %-14s %-14s %-5s %5u %3ld %-8s %s\n", i, s.name.c_str(), s.program.c_str(),
           (s.flags & SLOT_DATAGRAM) ? "udp" : "tcp", s.port, (long)s.maximum,
           (s.flags & SLOT_ENABLED) ? "enabled" : "disabled", s.parameters.c_str());
  }
}

bool SetField(SERVICE_SLOT *s, const char *assignment) {
  const char *equals = strchr(assignment, '=');
  if (!equals) return false;
  std::string key(assignment, equals - assignment);
  const char *value = equals + 1;
  if (key == "name")
    s->name = value;
  else if (key == "program")
    s->program = value;
  else if (key == "params")
    s->parameters = value;
  else if (key == "proto" && _stricmp(value, "tcp") == 0)
    s->flags &= ~SLOT_DATAGRAM;
  else if (key == "proto" && _stricmp(value, "udp") == 0)
    s->flags |= SLOT_DATAGRAM;
  else if (key == "port" && atol(value) > 0 && atol(value) < 65536)
    s->port = (WORD)atol(value);
  else if (key == "max" && atol(value) > 0)
    s->maximum = atol(value);
  else if (key == "keep")
    s->flags = atoi(value) ? (s->flags | SLOT_KEEP_LISTENING) : (s->flags & ~SLOT_KEEP_LISTENING);
  else if (key == "enabled")
    s->flags = atoi(value) ? (s->flags | SLOT_ENABLED) : (s->flags & ~SLOT_ENABLED);
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const char *file = PORTWARDEN_CFG;
  char windowsFile[MAX_PATH] = "";
  bool force = false;
  int a = 1;
  for (; a < argc && argv[a][0] == '-'; a++) {
    if (strcmp(argv[a], "--force") == 0) {
      force = true;
    } else if (strcmp(argv[a], "-f") == 0 && a + 1 < argc) {
      file = argv[++a];
    } else if (strcmp(argv[a], "-w") == 0) {
      /* The copy a service finds: it starts in "/", where no table file lies. */
      UINT length = GetWindowsDirectoryA(windowsFile, MAX_PATH - 16);
      if (length == 0 || length >= MAX_PATH - 16) {
        fprintf(stderr, "pwtable: the Windows directory is not known; set QX_WINDOWS_DIR or use -f FILE\n");
        return 1;
      }
      lstrcatA(windowsFile, "\\" PORTWARDEN_CFG);
      file = windowsFile;
    } else {
      fprintf(stderr, "pwtable: unknown option %s\n", argv[a]);
      fputs(kUsage, stderr);
      return 2;
    }
  }
  if (a >= argc) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[a++];
  char found[MAX_PATH] = "";
  std::string problem;
  if (ReadTableFile(file, g_Slots, &g_Logging, found, sizeof found, &problem)) {
    file = found; /* written back where it was found */
  } else if (!problem.empty()) {
    fprintf(stderr, "pwtable: %s: %s; check its permissions, nothing was written\n", file, problem.c_str());
    return 1;
  } else {
    FillDefaults(g_Slots);
    g_Logging = 0;
  }
  if (!problem.empty() && command == "list") {
    List();
    fprintf(stderr, "pwtable: %s cannot be read whole: %s; only the rows above could be read\n", file, problem.c_str());
    return 1;
  }
  if (!problem.empty() && !force) {
    fprintf(stderr,
            "pwtable: %s cannot be read whole: %s. Nothing was written. Repeat the command with --force to "
            "rewrite it from the rows that could be read (see pwtable list).\n",
            file, problem.c_str());
    return 1;
  }
  if (command == "list") {
    List();
    return 0;
  }
  if (command == "defaults") {
    FillDefaults(g_Slots);
  } else if (command == "enable" || command == "disable") {
    for (; a < argc; a++) {
      int i = FindSlot(argv[a]);
      if (i < 0 || !(g_Slots[i].flags & SLOT_USED)) {
        fprintf(stderr, "pwtable: no service %s; pwtable list shows the slots and names\n", argv[a]);
        return 1;
      }
      if (command == "enable")
        g_Slots[i].flags |= SLOT_ENABLED;
      else
        g_Slots[i].flags &= ~SLOT_ENABLED;
    }
  } else if (command == "set" && a < argc) {
    int i = FindSlot(argv[a++]);
    if (i < 0) {
      fprintf(stderr, "pwtable: slot must be 0-31 or a service name\n");
      return 1;
    }
    SERVICE_SLOT &s = g_Slots[i];
    if (!(s.flags & SLOT_USED)) {
      ResetSlot(&s);
      s.flags = SLOT_USED;
      s.maximum = 1;
    }
    for (; a < argc; a++) {
      if (!SetField(&s, argv[a])) {
        fprintf(stderr,
                "pwtable: bad setting %s; the keys are name, program, params, proto=tcp|udp, port=1-65535, max=1 or "
                "more, keep=0|1 and enabled=0|1\n",
                argv[a]);
        return 1;
      }
    }
    if (s.flags & SLOT_DATAGRAM) s.maximum = 1;
  } else if (command == "delete" && a < argc) {
    int i = FindSlot(argv[a]);
    if (i < 0) {
      fprintf(stderr, "pwtable: no service %s; pwtable list shows the slots and names\n", argv[a]);
      return 1;
    }
    ResetSlot(&g_Slots[i]);
  } else if (command == "logging" && a < argc) {
    if (_stricmp(argv[a], "on") != 0 && _stricmp(argv[a], "off") != 0) {
      fprintf(stderr, "pwtable: logging takes on or off, not \"%s\"; nothing was written\n", argv[a]);
      return 2;
    }
    g_Logging = _stricmp(argv[a], "on") == 0 ? 1 : 0;
  } else {
    fputs(kUsage, stderr);
    return 2;
  }
  char path[MAX_PATH] = "";
  if (!WriteTableFile(file, g_Slots, g_Logging, path, sizeof path)) {
    fprintf(stderr, "pwtable: cannot write %s: %s; check that its directory exists and is writable\n", file,
            ErrorWords(GetLastError()).c_str());
    return 1;
  }
  printf("Configuration saved in %s\n", path);
  return 0;
}
