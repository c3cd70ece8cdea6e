// The NFS server service and its control-panel applet, installed or removed
// from the NFS client settings dialog.
#include "installkit.h"

void SetupNfsServer(DWORD mode) { (void)mode; }
