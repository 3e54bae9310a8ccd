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
        if ((isTypedLetter(name_[at]) || !readings_[size_t(at)].isEmpty()) && matchFrom(at, 0, t))
            return at;
    return -1;
}

bool PinyinName::matchFrom(int at, int pos, const QString &typed) const
{
    if (pos == typed.size())
        return true;
    if (at == name_.size())
        return false;
    const QChar c = name_[at];
    if (isTypedLetter(c))
        return c.toLower() == typed[pos] && matchFrom(at + 1, pos + 1, typed);
    const QStringList &readings = readings_[size_t(at)];
    if (readings.isEmpty())
        return matchFrom(at + 1, pos, typed);  // a sign between the characters
    const QStringView rest = QStringView(typed).mid(pos);
    for (const QString &r : readings) {
        if (r.startsWith(rest))
            return true;  // typed ends inside this reading
        if (rest.startsWith(r) && matchFrom(at + 1, pos + int(r.size()), typed))
            return true;
        if (r.size() > 2 && r[1] == QLatin1Char('h') && QStringLiteral("zcs").contains(r[0])
            && rest.startsWith(QStringView(r).left(2)) && matchFrom(at + 1, pos + 2, typed))
            return true;
        if (rest.front() == r.front() && matchFrom(at + 1, pos + 1, typed))
            return true;
    }
    return false;
}

}  // namespace xs
