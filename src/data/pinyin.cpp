#include "data/pinyin.h"

#include <QFile>
#include <QHash>
#include <QTextStream>
#include <algorithm>

// The table is compiled into this static library: its resource is registered
// before the first reading.
static void registerPinyinResource() { Q_INIT_RESOURCE(pinyin); }

namespace xs {

namespace {

// A reading as it is typed: tone marks dropped, ü as v.
QString plainReading(const QString &marked)
{
    QString out;
    for (const QChar c : marked.normalized(QString::NormalizationForm_D)) {
        if (c.category() == QChar::Mark_NonSpacing) {
            if (c.unicode() == 0x0308 && !out.isEmpty() && out.back() == QLatin1Char('u'))
                out.back() = QLatin1Char('v');  // u + diaeresis is ü
            continue;
        }
        out += c.toLower();
    }
    return out;
}

// The table built from Unihan (":/pinyin/readings.txt": hex code point, a tab,
// the readings separated by blanks), read once.
const QHash<char16_t, QStringList> &table()
{
    static const QHash<char16_t, QStringList> readings = [] {
        QHash<char16_t, QStringList> t;
        registerPinyinResource();
        QFile f(QStringLiteral(":/pinyin/readings.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return t;
        t.reserve(30000);
        QTextStream in(&f);
        QString line;
        while (in.readLineInto(&line)) {
            const qsizetype tab = line.indexOf(QLatin1Char('\t'));
            bool ok = false;
            const uint cp = line.left(tab).toUInt(&ok, 16);
            if (tab < 0 || !ok || cp > 0xFFFF)
                continue;
            QStringList plain;
            for (const QString &r : line.mid(tab + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                if (const QString p = plainReading(r); !plain.contains(p))
                    plain << p;
            t.insert(char16_t(cp), plain);
        }
        return t;
    }();
    return readings;
}

bool isTypedLetter(QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); }

}  // namespace

QStringList pinyinReadings(QChar c) { return table().value(c.unicode()); }

PinyinName::PinyinName(const QString &name) : name_(name)
{
    readings_.reserve(size_t(name.size()));
    for (const QChar c : name)
        readings_.push_back(pinyinReadings(c));
}

int PinyinName::match(const QString &typed) const
{
    const QString t = typed.trimmed().toLower();
    if (t.isEmpty())
        return 0;
    if (!std::all_of(t.begin(), t.end(), isTypedLetter))
        return int(name_.indexOf(t, 0, Qt::CaseInsensitive));
    for (int at = 0; at < name_.size(); ++at)
        if ((isTypedLetter(name_[at]) || !readings_[size_t(at)].isEmpty()) && matchesFrom(at, t))
            return at;
    return -1;
}

// Walks the name from character `at` on, keeping every place in `typed` that
// the characters so far can have consumed.
bool PinyinName::matchesFrom(int at, const QString &typed) const
{
    const auto length = size_t(typed.size());
    std::vector<bool> here(length + 1, false), next(length + 1, false);
    here[0] = true;
    for (int i = at; i < name_.size(); ++i) {
        std::fill(next.begin(), next.end(), false);
        const QChar c = name_[i];
        const QStringList &readings = readings_[size_t(i)];
        for (size_t pos = 0; pos < length; ++pos) {
            if (!here[pos])
                continue;
            if (isTypedLetter(c)) {
                if (c.toLower() == typed[qsizetype(pos)])
                    next[pos + 1] = true;
                continue;
            }
            if (readings.isEmpty()) {
                next[pos] = true;  // a sign between the characters
                continue;
            }
            const QStringView rest = QStringView(typed).mid(qsizetype(pos));
            for (const QString &r : readings) {
                if (r.startsWith(rest))
                    return true;  // typed ends inside this reading
                if (rest.startsWith(r))
                    next[pos + size_t(r.size())] = true;
                if (r.size() > 2 && r[1] == QLatin1Char('h') && QStringLiteral("zcs").contains(r[0])
                    && rest.startsWith(QStringView(r).left(2)))
                    next[pos + 2] = true;
                if (rest.front() == r.front())
                    next[pos + 1] = true;
            }
        }
        if (next[length])
            return true;
        here.swap(next);
    }
    return false;
}

}  // namespace xs
