#include "data/engines.h"

#include "data/engine.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/sqliteengine.h"

namespace xs {

void useFile()
{
    stopServer();
    setEngine(makeFileEngine());
}

}  // namespace xs
