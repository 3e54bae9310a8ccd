// Found before the real header by every source outside the file engine's
// folder: only src/data/sqlite/ talks to SQLite; everything else goes through
// the engine interface (data/engine.h).
#error "sqlite3.h is the file engine's own: include it only in src/data/sqlite/"
