// Must not compile: the file engine sees nothing of the server engine.
#include "data/pg/pgsql.h"
