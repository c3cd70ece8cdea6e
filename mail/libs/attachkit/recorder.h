// The voice recorder ("Recording" dialog) of MimeGetSpecial(4).
#ifndef QX_ATTACHKIT_RECORDER_H
#define QX_ATTACHKIT_RECORDER_H

#include <windows.h>

namespace attachkit {

constexpr const char *kRecordingDialog = "Recording";
enum RecorderControl : int {
  IDC_REC_RECORD = 100,
  IDC_REC_STOP = 101,
  IDC_REC_PLAY = 102,
  IDC_REC_CLEAR = 103,
  IDC_REC_SIZE = 200,
};

// Runs the dialog; the recording's first block when the person pressed OK
// after recording something, else none (also when no recording device
// exists, after saying so).
HGLOBAL RecordVoice(HWND owner);

}  // namespace attachkit

#endif
