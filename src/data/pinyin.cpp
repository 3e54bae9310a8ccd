#include "data/pinyin.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <limits>

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

// Calls f with each non-empty part of `text` between the separators.
template <class F>
void forEachPart(QByteArrayView text, char separator, F f)
{
    for (qsizetype from = 0; from < text.size();) {
        qsizetype to = text.indexOf(separator, from);
        if (to < 0)
            to = text.size();
        if (to > from)
            f(text.sliced(from, to - from));
        from = to + 1;
    }
}

// The table built from Unihan (":/pinyin/readings.txt": hex code point, a tab,
// the readings separated by blanks), read once, indexed by the character.
// The file holds some 28,000 readings but only some 1,500 different ones, and
// many characters read alike: each list of readings is made once and shared
// by every character that has it.
const std::vector<QStringList> &table()
{
    static const std::vector<QStringList> readings = [] {
        std::vector<QStringList> t(0x10000);
        registerPinyinResource();
        QFile f(QStringLiteral(":/pinyin/readings.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return t;
        const QByteArray all = f.readAll();
        QHash<QByteArray, QString> plainOf;
        QHash<QByteArray, QStringList> listOf;
        forEachPart(all, '\n', [&](QByteArrayView line) {
            const qsizetype tab = line.indexOf('\t');
            bool ok = false;
            const uint cp = tab < 0 ? 0 : line.first(tab).toUInt(&ok, 16);
            if (!ok || cp > 0xFFFF)
                return;
            const QByteArray marked = line.sliced(tab + 1).toByteArray();
            auto list = listOf.constFind(marked);
            if (list == listOf.cend()) {
                QStringList plain;
                forEachPart(marked, ' ', [&](QByteArrayView one) {
                    auto known = plainOf.constFind(one.toByteArray());
                    if (known == plainOf.cend())
                        known = plainOf.insert(one.toByteArray(), plainReading(QString::fromUtf8(one)));
                    if (!plain.contains(*known))
                        plain << *known;
                });
                list = listOf.insert(marked, plain);
            }
            t[cp] = *list;
        });
        return t;
    }();
    return readings;
}

bool isTypedLetter(QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); }

}  // namespace

QStringList pinyinReadings(QChar c) { return table()[c.unicode()]; }

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
    return firstStart(t);
}

// One walk over the name for every place a match can start (a letter or a
// character with readings). Before character i, start[pos] is the earliest
// start from which the characters so far can have consumed the first pos
// letters of `typed` (kNone: from none). Walks from different starts that
// reach the same place go on alike, so only the earliest is kept; the answer
// is the earliest start of a walk that consumes all of `typed`, the same as
// trying each start in turn.
int PinyinName::firstStart(const QString &typed) const
{
    constexpr int kNone = std::numeric_limits<int>::max();
    const auto length = size_t(typed.size());
    std::vector<int> start(length + 1, kNone), next(length + 1, kNone);
    int found = kNone;
    for (int i = 0; i < name_.size(); ++i) {
        const QChar c = name_[i];
        const QStringList &readings = readings_[size_t(i)];
        const bool letter = isTypedLetter(c);
        if (letter || !readings.isEmpty())
            start[0] = std::min(start[0], i);
        std::fill(next.begin(), next.end(), kNone);
        auto reach = [&next](size_t pos, int from) { next[pos] = std::min(next[pos], from); };
        for (size_t pos = 0; pos < length; ++pos) {
            const int from = start[pos];
            if (from == kNone)
                continue;
            if (letter) {
                if (c.toLower() == typed[qsizetype(pos)])
                    reach(pos + 1, from);
                continue;
            }
            if (readings.isEmpty()) {
                reach(pos, from);  // a sign between the characters
                continue;
            }
            const QStringView rest = QStringView(typed).mid(qsizetype(pos));
            for (const QString &r : readings) {
                if (r.front() != rest.front())
                    continue;  // every way below begins with the reading's first letter
                if (r.startsWith(rest))
                    found = std::min(found, from);  // typed ends inside this reading
                if (rest.startsWith(r))
                    reach(pos + size_t(r.size()), from);
                if (r.size() > 2 && r[1] == QLatin1Char('h') && QStringLiteral("zcs").contains(r[0])
                    && rest.startsWith(QStringView(r).left(2)))
                    reach(pos + 2, from);
                reach(pos + 1, from);
            }
        }
        found = std::min(found, next[length]);
        next[length] = kNone;
        start.swap(next);
        // No walk still going began before the match found.
        if (found != kNone && *std::min_element(start.begin(), start.end()) >= found)
            break;
    }
    return found == kNone ? -1 : found;
}

}  // namespace xs
