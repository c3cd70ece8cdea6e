// What both of burrowview's print jobs share: the default printer's device
// context, the started document, the modeless progress dialog with Cancel,
// and the end of the job (ended when it ran through, aborted otherwise, so
// a cancelled job leaves nothing in the spooler).
#ifndef QX_GOPHER_CLIENT_PRINTJOBS_H
#define QX_GOPHER_CLIENT_PRINTJOBS_H

#include <windows.h>

class GopherPrintJob {
 public:
  GopherPrintJob() = default;
  GopherPrintJob(const GopherPrintJob &) = delete;
  GopherPrintJob &operator=(const GopherPrintJob &) = delete;
  ~GopherPrintJob();

  // The printer's DC, the document started under docName and the progress
  // dialog (a template of the program) shown with the owner disabled. False,
  // with the person told why, when there is no printer or it refused the
  // document; nothing is left open then.
  bool Begin(HWND owner, const char *docName, const char *dialogName);
  HDC dc() const { return dc_; }
  // Messages pumped; true once the person pressed Cancel.
  bool Cancelled();
  // Shows a percentage in the progress dialog when it changed.
  void Progress(unsigned percent);
  // A new page; false when the printer refused it.
  bool NewFrame();
  // Ends the document (finished) or aborts it, and closes everything. A page
  // or document the printer refused (not a Cancel) is told about.
  void End(bool finished);

 private:
  HDC dc_ = nullptr;
  HWND owner_ = nullptr;
  HWND dialog_ = nullptr;
  bool started_ = false;
  bool refused_ = false;
  unsigned lastPercent_ = ~0u;
};

#endif
