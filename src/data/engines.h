#pragma once

// Choosing the engine of this process (data/engine.h). The shared server is
// chosen with useServer/openServerDatabase (data/pg/serverdb.h).
namespace xs {
// The file at dbPath(), leaving the server when one was in use.
void useFile();
}  // namespace xs
