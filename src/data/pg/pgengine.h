#pragma once
#include "data/engine.h"

namespace xs {

// The shared server engine: statements run on connections of the process's
// pool (serverdb.h), each reading through a server-side cursor in a
// read-only transaction of its own; a transaction's statements share one
// connection between BEGIN and COMMIT.
std::unique_ptr<Engine> makeServerEngine();

}  // namespace xs
