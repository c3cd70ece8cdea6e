/* WTSGetActiveConsoleSessionId and WTSQueryUserToken. */
#include "qxwin/session.h"
