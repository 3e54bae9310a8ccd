#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// Finding a name by typing its pinyin. The readings come from the Unihan
// database (the unicode-data package), turned into a table at build time: a
// character with several readings (重: zhong, chong) matches by any of them.
namespace xs {

// The readings of one character without tones, ü written v as on a
// keyboard ("lv" for 绿); empty for a character that is not Han.
QStringList pinyinReadings(QChar c);

// A name made ready for matching: the readings of each of its characters,
// found once.
class PinyinName {
public:
    explicit PinyinName(const QString &name);
    // Where in the name what was typed matches (the index of its first
    // character), or -1. Typed Chinese characters are found as they are.
    // Letters match, from any character on, each character by its initial
    // ("amxl" in 阿莫西林), its whole reading ("amoxilin") or, for the last
    // character typed into, the start of its reading ("amoxi"); zh, ch and
    // sh may stand as initials too. Letters and digits in the name match
    // themselves; other signs are passed over.
    int match(const QString &typed) const;
    const QString &name() const { return name_; }

private:
    // The first character a match of `typed` (lower-case letters and digits) starts at, or -1.
    int firstStart(const QString &typed) const;
    QString name_;
    std::vector<QStringList> readings_;  // per character of the name
};

}  // namespace xs
