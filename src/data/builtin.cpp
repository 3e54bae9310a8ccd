#include "data/builtin.h"

#include <QFile>

// The built-in data lives in resources/seed.qrc, compiled into the static
// library; a static library's resources must be registered by name before use.
static void registerSeedResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(seed);
        return true;
    }();
    (void)done;
}

namespace xs {

namespace {
bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

QByteArray readResource(const QString &name, QString *error)
{
    registerSeedResources();
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("内置数据 %1 缺失").arg(name));
        return {};
    }
    return f.readAll();
}

}  // namespace

bool readBuiltinTable(const QString &name, const QStringList &columns, std::vector<CsvRecord> *rows, QString *error)
{
    QString why;
    const QByteArray bytes = readResource(name, &why);
    if (!why.isEmpty())
        return fail(error, why);
    if (!readTableCsv(bytes, columns, rows, &why))
        return fail(error, QStringLiteral("内置数据 %1：%2").arg(name, why));
    return true;
}

}  // namespace xs
