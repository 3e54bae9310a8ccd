// Must not compile: the data layer sees no window toolkit.
#include "ui/window.h"
