// Must not compile: the data core sees neither engine.
#include "data/sqlite/sqlite.h"
