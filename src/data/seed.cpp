#include "data/seed.h"

// Placeholder bodies until the catalogue and demo data land; they add nothing.
namespace xs {
bool seedCatalogue(const Connection &, QString *) { return true; }
bool seedDemoRecords(const Connection &, QString *) { return true; }
bool importCatalogueCsv(const Connection &, const QString &, QString *) { return false; }
bool exportCatalogueCsv(const Connection &, const QString &, QString *) { return false; }
}  // namespace xs
