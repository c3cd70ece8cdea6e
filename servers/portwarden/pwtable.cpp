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
    "       pwtable [-f FILE] defaults\n"
    "       pwtable [-f FILE] enable SLOT|NAME...\n"
    "       pwtable [-f FILE] disable SLOT|NAME...\n"
    "       pwtable [-f FILE] set SLOT [name=N] [program=P] [params=TEXT] [proto=tcp|udp]\n"
    "                                  [port=N] [max=N] [keep=0|1] [enabled=0|1]\n"
    "       pwtable [-f FILE] delete SLOT\n"
    "       pwtable [-f FILE] logging on|off\n"
    "Without -f the file is PORTWARDEN.CFG found by the usual file search (else the\n"
    "current directory); -w is the one in the Windows directory, which the service\n"
    "finds. A missing file starts from the 12 default rows.\n";

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
  int a = 1;
  if (a + 1 < argc && strcmp(argv[a], "-f") == 0) {
    file = argv[a + 1];
    a += 2;
  } else if (a < argc && strcmp(argv[a], "-w") == 0) {
    /* The copy a service finds: it starts in "/", where no table file lies. */
    UINT length = GetWindowsDirectoryA(windowsFile, MAX_PATH - 16);
    if (length == 0 || length >= MAX_PATH - 16) {
      fprintf(stderr, "pwtable: no Windows directory\n");
      return 1;
    }
    lstrcatA(windowsFile, "\\" PORTWARDEN_CFG);
    file = windowsFile;
    a++;
  }
  if (a >= argc) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[a++];
  char found[MAX_PATH] = "";
  if (ReadTableFile(file, g_Slots, &g_Logging, found, sizeof found)) {
    file = found; /* written back where it was found */
  } else {
    FillDefaults(g_Slots);
    g_Logging = 0;
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
        fprintf(stderr, "pwtable: no service %s\n", argv[a]);
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
        fprintf(stderr, "pwtable: bad setting %s\n", argv[a]);
        return 1;
      }
    }
    if (s.flags & SLOT_DATAGRAM) s.maximum = 1;
  } else if (command == "delete" && a < argc) {
    int i = FindSlot(argv[a]);
    if (i < 0) {
      fprintf(stderr, "pwtable: no service %s\n", argv[a]);
      return 1;
    }
    ResetSlot(&g_Slots[i]);
  } else if (command == "logging" && a < argc) {
    g_Logging = _stricmp(argv[a], "on") == 0 ? 1 : 0;
  } else {
    fputs(kUsage, stderr);
    return 2;
  }
  char path[MAX_PATH] = "";
  if (!WriteTableFile(file, g_Slots, g_Logging, path, sizeof path)) {
    fprintf(stderr, "pwtable: cannot write %s\n", file);
    return 1;
  }
  printf("Configuration saved in %s\n", path);
  return 0;
}
