// Found before the real header by every source outside the server engine's
// folder: only src/data/pg/ talks to libpq; everything else goes through the
// engine interface (data/engine.h).
#error "libpq-fe.h is the server engine's own: include it only in src/data/pg/"
