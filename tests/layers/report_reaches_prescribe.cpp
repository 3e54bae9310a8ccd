// Must not compile: the report facility sees no subsystem's layout.
#include "prescribe/DataReport1.h"
