/* CreateEnvironmentBlock and DestroyEnvironmentBlock. */
#include "qxwin/session.h"
