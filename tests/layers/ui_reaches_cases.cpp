// Must not compile: the window toolkit sees no subsystem.
#include "cases/Form1.h"
