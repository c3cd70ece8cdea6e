/* oldparleyd: the talk daemon of the old talk protocol (UDP 517). Started by
 * portwarden on the first control datagram; starts "oldparley" when the
 * console user accepts a call. */
#include <windows.h>

#include "talkdaemon.h"

namespace {

const QX_DIALOG_ITEM kRequestItems[] = {
    QX_LTEXT("Incoming Talk request from:", -1, 8, 8, 160, 8),
    QX_LTEXT("", IDC_REQUEST_CALLER, 8, 22, 160, 8),
    QX_DEFPUSHBUTTON("Talk", IDC_REQUEST_TALK, 30, 40, 50, 14),
    QX_PUSHBUTTON("Cancel", IDC_REQUEST_CANCEL, 96, 40, 50, 14),
};
const QX_DIALOG kRequest =
    QX_DIALOG_TEMPLATE(40, 40, 176, 62, DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
                       "Old Talk Request", "MS Sans Serif", 8, kRequestItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("REQUEST", kRequest),
};

const TALK_FLAVOUR kFlavour = {&kOldTalkLayout, "oldparleyd", "OLDPARLEY.EXE not found"};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return ParleyWinMain(&kFlavour, instance, previous, commandLine, show);
}
