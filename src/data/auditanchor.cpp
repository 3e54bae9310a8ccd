#include "data/auditanchor.h"

#include "data/fault.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xs {

namespace {

const QString kHeading = QStringLiteral("澄衡审计锚点 1");
const QString kHeadingWord = QStringLiteral("澄衡审计锚点 ");
const QString kNoHash = QStringLiteral("（无）");
const QString kSeparator = QStringLiteral("：");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The items of an anchor, in the order they are written.
enum Item { Number, Hash, Taken, Database, ItemCount };
const std::array<QString, ItemCount> kItems = {QStringLiteral("序号"), QStringLiteral("校验值"), QStringLiteral("时间"),
                                               QStringLiteral("数据库")};

// No anchor is larger than this; a larger file is something else.
constexpr qint64 kMostBytes = qint64(64) * 1024;

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

std::optional<AuditAnchor> parseAuditAnchor(const QByteArray &bytes, QString *why)
{
    const auto refuse = [why](const QString &text) {
        fail(why, text);
        return std::optional<AuditAnchor>();
    };
    if (bytes.isEmpty())
        return refuse(QStringLiteral("文件是空的"));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return refuse(QStringLiteral("不是 UTF-8 文本"));
    QStringList lines = text.split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();  // the line break that ends the last line
    // Line breaks of another system (the anchor copied through it) are taken as ours.
    for (QString &l : lines)
        if (l.endsWith(u'\r'))
            l.chop(1);
    if (lines.first() != kHeading) {
        if (lines.first().startsWith(kHeadingWord))
            return refuse(QStringLiteral("第 1 行的格式版本“%1”不是本程序能读的版本 1")
                              .arg(lines.first().mid(kHeadingWord.size())));
        return refuse(QStringLiteral("第 1 行应为“%1”，这不是审计锚点文件").arg(kHeading));
    }
    std::array<QString, ItemCount> values;
    std::array<int, ItemCount> lineOf = {};
    for (int n = 1; n < int(lines.size()); ++n) {
        const QString &line = lines[n];
        const qsizetype colon = line.indexOf(kSeparator);
        if (colon < 0)
            return refuse(QStringLiteral("第 %1 行应为“项目：值”的形式").arg(n + 1));
        const QString key = line.left(colon);
        const auto *const it = std::find(kItems.begin(), kItems.end(), key);
        if (it == kItems.end())
            return refuse(QStringLiteral("第 %1 行的“%2”不是锚点的项目（只有 %3）")
                              .arg(n + 1)
                              .arg(key, QStringList(kItems.begin(), kItems.end()).join(QStringLiteral("、"))));
        const auto item = size_t(it - kItems.begin());
        if (lineOf[item] != 0)
            return refuse(
                QStringLiteral("第 %1 行又写了一次“%2”（第 %3 行已有）").arg(n + 1).arg(key).arg(lineOf[item]));
        lineOf[item] = n + 1;
        values[item] = line.mid(colon + kSeparator.size());
    }
    for (size_t i = 0; i < kItems.size(); ++i)
        if (lineOf[i] == 0)
            return refuse(QStringLiteral("缺少“%1”一行").arg(kItems[i]));

    AuditAnchor a;
    static const QRegularExpression number(QStringLiteral("^(0|[1-9][0-9]{0,17})$"));
    if (!number.match(values[Number]).hasMatch())
        return refuse(QStringLiteral("第 %1 行的序号“%2”应为不带符号的整数").arg(lineOf[Number]).arg(values[Number]));
    a.number = values[Number].toLongLong();
    static const QRegularExpression hash(QStringLiteral("^[0-9a-f]{64}$"));
    if (a.number == 0 && values[Hash] != kNoHash)
        return refuse(QStringLiteral("第 %1 行：序号为 0 的锚点没有校验值，应写“%2”").arg(lineOf[Hash]).arg(kNoHash));
    if (a.number > 0 && !hash.match(values[Hash]).hasMatch())
        return refuse(QStringLiteral("第 %1 行的校验值应为 64 位十六进制数字（0-9、a-f）").arg(lineOf[Hash]));
    a.hash = a.number > 0 ? values[Hash] : QString();
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"));
    if (!time.match(values[Taken]).hasMatch() || !QDateTime::fromString(values[Taken], kTimeFormat).isValid())
        return refuse(QStringLiteral("第 %1 行的时间“%2”应为 YYYY-MM-DD HH:MM:SS 形式的时刻")
                          .arg(lineOf[Taken])
                          .arg(values[Taken]));
    a.taken = values[Taken];
    if (values[Database].trimmed().isEmpty())
        return refuse(QStringLiteral("第 %1 行没有写数据库").arg(lineOf[Database]));
    a.database = values[Database];
    return a;
}

}  // namespace

AuditAnchor anchorOf(const AuditTrailPosition &p, const QString &database)
{
    AuditAnchor a;
    a.number = p.last;
    a.hash = p.last > 0 ? p.lastHash : QString();
    a.taken = QDateTime::currentDateTime().toString(kTimeFormat);
    // One line per item: a connection text written over several lines is
    // kept on one.
    a.database = QString(database).replace(u'\n', u' ').replace(u'\r', u' ');
    return a;
}

QString formatAuditAnchor(const AuditAnchor &a)
{
    const std::array<QString, ItemCount> values = {QString::number(a.number), a.number > 0 ? a.hash : kNoHash, a.taken,
                                                   a.database};
    QString text = kHeading + u'\n';
    for (int i = 0; i < ItemCount; ++i)
        text += kItems[size_t(i)] + kSeparator + values[size_t(i)] + u'\n';
    return text;
}

std::optional<AuditAnchor> readAuditAnchor(const QString &path, QString *why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(why, !QFileInfo::exists(path) ? QStringLiteral("文件不存在") : QStringLiteral("无法读取文件：没有权限"));
        return std::nullopt;
    }
    const QByteArray bytes = f.read(kMostBytes + 1);
    if (bytes.size() > kMostBytes) {
        fail(why, QStringLiteral("文件太大，不是审计锚点"));
        return std::nullopt;
    }
    return parseAuditAnchor(bytes, why);
}

bool writeAuditAnchor(const QString &path, const AuditAnchor &a, QString *why)
{
    const QString part = path + QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
    const QByteArray partName = QFile::encodeName(part);
    const QByteArray bytes = formatAuditAnchor(a).toUtf8();
    ::unlink(partName.constData());
    const int fd = ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0)
        return fail(why, QStringLiteral("无法写入 %1：%2").arg(path, systemReason(errno)));
    // The mode as asked, whatever the process's umask took away.
    bool ok = ::fchmod(fd, 0640) == 0;
    for (qint64 done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? n : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok || ::rename(partName.constData(), QFile::encodeName(path).constData()) != 0) {
        const int cause = ok ? errno : err;
        ::unlink(partName.constData());
        return fail(why, QStringLiteral("无法写入 %1：%2").arg(path, systemReason(cause)));
    }
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

AuditAnchorCheck checkAuditAnchor(const AuditAnchor &a, const AuditTrailPosition &p)
{
    const auto failed = [](const QString &text) { return AuditAnchorCheck{false, text}; };
    if (a.number == 0)
        return {true, QStringLiteral("%1 取锚点时还没有审计记录，现在的审计记录都与它相符").arg(a.taken)};
    if (p.last == 0)
        return failed(QStringLiteral("审计记录被清空：%1 取的锚点记到第 %2 条，现在一条审计记录也没有")
                          .arg(a.taken)
                          .arg(a.number));
    if (p.last < a.number)
        return failed(QStringLiteral("审计记录被截短：%1 取的锚点记到第 %2 条，现在只到第 %3 条")
                          .arg(a.taken)
                          .arg(a.number)
                          .arg(p.last));
    // An entry missing inside the trail, or there with another hash.
    if (!p.found)
        return failed(QStringLiteral("审计记录被改写：%1 取的锚点记下的第 %2 条已不存在").arg(a.taken).arg(a.number));
    if (p.foundHash != a.hash)
        return failed(QStringLiteral("审计记录被改写：第 %1 条的校验值与 %2 取的锚点不同（锚点 %3，现在 %4），"
                                     "第 %1 条或在它之前的记录被改动后重算了校验值")
                          .arg(a.number)
                          .arg(a.taken, a.hash, p.foundHash));
    return {true, QStringLiteral("到第 %1 条为止与 %2 取的锚点一致").arg(a.number).arg(a.taken)};
}

}  // namespace xs
