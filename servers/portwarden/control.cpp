/* The Control dialog's requests, carried out on the info window's thread: the
 * only thread that changes the table, the listeners and the event source, so
 * an edit never races a launch. Each answer carries a copy of the table. */
#include "portwarden.h"

#include <cstdio>

namespace {

void Enable(HWND window, CONTROL_REQUEST *request) {
  SERVICE_SLOT &slot = g_Slots[request->slot];
  if (!(slot.flags & SLOT_ENABLED)) {
    slot.flags |= SLOT_ENABLED;
    OpenListeners(window, FALSE); /* a bind failure disables the slot again */
  }
  request->done = (slot.flags & SLOT_ENABLED) != 0;
}

void Disable(CONTROL_REQUEST *request) {
  ShutListener(request->slot);
  g_Slots[request->slot].flags &= ~SLOT_ENABLED;
  request->done = TRUE;
}

/* The Configure dialog's OK. A new service goes only into a slot that is
 * still unused, so Add never overwrites a service. */
void Store(CONTROL_REQUEST *request) {
  SERVICE_SLOT &slot = g_Slots[request->slot];
  const SERVICE_SLOT &edit = request->edit;
  bool used = (slot.flags & SLOT_USED) != 0;
  if (request->adding && used) return;
  bool enabled = used && (slot.flags & SLOT_ENABLED);
  bool datagram = (edit.flags & SLOT_DATAGRAM) != 0;
  ShutListener(request->slot);
  if (!used) {
    slot.sessions = 0;
    slot.lastPid = 0;
  }
  slot.socket = -1;
  slot.ownerPid = -1;
  slot.reserved = -1;
  slot.flags = (BYTE)(SLOT_USED | (enabled ? SLOT_ENABLED : 0) | (datagram ? SLOT_DATAGRAM : 0));
  slot.maximum = datagram ? 1 : edit.maximum;
  slot.port = edit.port;
  slot.name = edit.name;
  slot.program = edit.program;
  slot.parameters = edit.parameters;
  request->done = TRUE;
}

/* Delete frees the slot and closes its listener, so a deleted service stops
 * taking connections at once. */
void Delete(CONTROL_REQUEST *request) {
  ShutListener(request->slot);
  g_Slots[request->slot].flags &= ~(SLOT_USED | SLOT_ENABLED);
  request->done = TRUE;
}

void SwitchLogging(CONTROL_REQUEST *request) {
  if (g_Logging) CloseEventSource();
  g_Logging = g_Logging ? 0 : 1;
  if (g_Logging) OpenEventSource(); /* a failure turns logging off again */
  request->done = TRUE;
}

/* Written where the table was read from; a table of default rows goes to the
 * current directory, where the next start finds it first. */
void Save(CONTROL_REQUEST *request) {
  char path[MAX_PATH] = "";
  const char *name = g_TablePath.empty() ? PORTWARDEN_CFG : g_TablePath.c_str();
  request->done = WriteTableFile(name, g_Slots, g_Logging, path, sizeof path);
  request->text = path;
  if (request->done) g_TablePath = path;
}

/* A file that is missing or cannot be read whole changes nothing: the table
 * in use stays as it is. */
void Reload(HWND window, CONTROL_REQUEST *request) {
  static SERVICE_SLOT read[MAX_SERVICES];
  BYTE logging = 0;
  char path[MAX_PATH] = "";
  std::string problem;
  if (!ReadTableFile(PORTWARDEN_CFG, read, &logging, path, sizeof path, &problem)) {
    request->text = problem.empty() ? std::string(PORTWARDEN_CFG) + " was not found" : problem;
    return;
  }
  if (!problem.empty()) {
    request->text = std::string(path) + " cannot be read whole: " + problem;
    return;
  }
  ClearTable();
  CloseEventSource();
  for (int i = 0; i < MAX_SERVICES; i++) g_Slots[i] = read[i];
  g_Logging = logging;
  g_TablePath = path;
  if (g_Logging) OpenEventSource();
  OpenListeners(window, FALSE);
  request->done = TRUE;
}

void Defaults(CONTROL_REQUEST *request) {
  ClearTable();
  FillDefaults(g_Slots);
  request->done = TRUE;
}

}  // namespace

LRESULT AnswerControlRequest(HWND window, CONTROL_REQUEST *request) {
  if (!request) return 0;
  request->done = FALSE;
  bool slotAction = request->action == CONTROL_ENABLE || request->action == CONTROL_DISABLE ||
                    request->action == CONTROL_STORE || request->action == CONTROL_DELETE;
  bool slotValid = request->slot >= 0 && request->slot < MAX_SERVICES &&
                   (request->action == CONTROL_STORE || (g_Slots[request->slot].flags & SLOT_USED));
  if (!slotAction || slotValid) {
    switch (request->action) {
      case CONTROL_VIEW: request->done = TRUE; break;
      case CONTROL_DIALOG:
        SetControlDialog(request->dialog);
        request->done = TRUE;
        break;
      case CONTROL_ENABLE: Enable(window, request); break;
      case CONTROL_DISABLE: Disable(request); break;
      case CONTROL_STORE: Store(request); break;
      case CONTROL_DELETE: Delete(request); break;
      case CONTROL_LOGGING: SwitchLogging(request); break;
      case CONTROL_SAVE: Save(request); break;
      case CONTROL_RELOAD: Reload(window, request); break;
      case CONTROL_DEFAULTS: Defaults(request); break;
    }
  }
  for (int i = 0; i < MAX_SERVICES; i++) request->view[i] = g_Slots[i];
  request->logging = g_Logging;
  request->answered = TRUE;
  return 1;
}
