#include "data/fault.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace xs {

namespace {
QString g_appDirOverride;
FaultListener g_faultListener;
bool g_engineDetailLog = true;
std::atomic<int> g_readingTimeoutMs{kReadingTimeoutMs};
}  // namespace

void setEngineDetailLog(bool on) { g_engineDetailLog = on; }

QString faultReasonText(DbFault f)
{
    switch (f) {
    case DbFault::None:
        return {};
    case DbFault::Busy:
        return QStringLiteral("数据库正被另一个程序写入，操作没有进行。请稍后再试。");
    case DbFault::Full:
        return QStringLiteral("磁盘已满，数据没有保存。请释放磁盘空间后再试。");
    case DbFault::ReadOnly:
        return QStringLiteral("数据库文件是只读的或没有写入权限，数据没有保存。请检查文件及所在文件夹的权限后再试。");
    case DbFault::Damaged:
        return QStringLiteral("数据库文件已损坏。请运行 chengheng-db check 检查，或从备份恢复数据库文件。");
    case DbFault::Unique:
        return QStringLiteral("已经存在相同编号的记录，不能重复保存。");
    case DbFault::Gone:
        return QStringLiteral("数据库文件不存在或无法读取。请检查文件是否被移走、删除或没有读取权限。");
    case DbFault::NotOurs:
        return QStringLiteral("该文件不是澄衡数据库。请确认程序文件夹中的 xs.mdb 是否正确。");
    case DbFault::Io:
        return QStringLiteral(
            "读写数据库文件时出错（磁盘或网络故障）。请检查磁盘后再试；若反复出现，请运行 chengheng-db check。");
    case DbFault::Lost:
        return QStringLiteral(
            "与数据库服务器的连接中断，刚才的操作没有完成。请检查网络和服务器后再试，下一次操作会重新连接。");
    case DbFault::Timeout:
        return QStringLiteral("数据库没有在限定的时间内完成这次读取，读取已停止，没有改动任何数据。"
                              "请稍后再试或缩小查询的范围；若反复出现，请联系系统管理员。");
    case DbFault::Other:
        return QStringLiteral("数据库操作失败。请稍后再试；若反复出现，请联系系统管理员。");
    }
    return {};
}

QString withDetail(const QString &text, const QString &detail, const QString &separator)
{
    const QString d = detail.trimmed();
    if (d.isEmpty())
        return text;
    const bool chinese =
        std::any_of(d.begin(), d.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
    if (chinese)
        return text + separator + QStringLiteral("（详细信息：%1）").arg(d);
    if (g_engineDetailLog)
        std::fprintf(stderr, "chengheng: database: %s\n", d.toLocal8Bit().constData());
    return text;
}

bool isFileFault(DbFault f) { return f != DbFault::None && f != DbFault::Unique && f != DbFault::Other; }

void setFaultListener(FaultListener listener) { g_faultListener = std::move(listener); }

void reportFault(DbFault f, const QString &message)
{
    if (isFileFault(f) && g_faultListener)
        g_faultListener(f, message);
}

DbError::DbError(QString path, QString reason, DbFault fault)
    : std::runtime_error((path + QStringLiteral(": ") + reason).toStdString()), path_(std::move(path)),
      reason_(std::move(reason)), fault_(fault)
{}

QString DbError::message() const { return QStringLiteral("无法打开数据库文件 %1：%2").arg(path_, reason_); }

int readingTimeoutMs() { return g_readingTimeoutMs.load(); }
void setReadingTimeoutMs(int ms) { g_readingTimeoutMs = ms > 0 ? ms : kReadingTimeoutMs; }

QString appDir()
{
    if (!g_appDirOverride.isEmpty())
        return g_appDirOverride;
    return QCoreApplication::applicationDirPath();
}

QString dbPath() { return appDir() + QStringLiteral("/xs.mdb"); }

QString realFilePath(const QString &path)
{
    QString p = QFileInfo(path).absoluteFilePath();
    // A link may lead to another link; the kernel gives up after 40 as well.
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo link(p);
        if (!link.isSymLink())
            break;
        p = link.symLinkTarget();
    }
    return QDir::cleanPath(p);
}

void setAppDirForTesting(const QString &dir) { g_appDirOverride = dir; }

QString systemReason(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case EROFS:
        return QStringLiteral("文件系统只能读，不能写");
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case EEXIST:
        return QStringLiteral("同名的文件已存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
        return QStringLiteral("同名的文件夹已存在");
    case EIO:
        return QStringLiteral("读写磁盘出错");
    default:
        return QStringLiteral("系统错误 %1").arg(err);
    }
}

}  // namespace xs
