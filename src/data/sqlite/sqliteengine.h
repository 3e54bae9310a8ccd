#pragma once
#include "data/engine.h"

namespace xs {

// The file engine: every statement opens the file afresh (a reading stays
// its own short transaction and blocks no writer in WAL mode); a
// transaction's statements share its connection inside BEGIN IMMEDIATE.
// `path` empty: the application's file (dbPath() at each opening).
std::unique_ptr<Engine> makeFileEngine(const QString &path = QString());

}  // namespace xs
