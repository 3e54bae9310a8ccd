// Must not compile: the server engine sees nothing of the file engine.
#include "data/sqlite/sqlite.h"
