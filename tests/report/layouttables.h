#pragma once
// The three report layouts as they are documented (top | left | width |
// element), kept apart from the test so that moc never reads the raw strings.
#include "report/reportmodel.h"

#include <QList>
#include <QRect>
#include <QRegularExpression>
#include <QString>

namespace layouttables {

using xs::ElementKind;

struct Expected {
    ElementKind kind;
    QString text;  // caption or column
    QRect rect;
};

// Parses rows "| top | left | width | label "X", height H |" (width column
// optional, then defaultLabelWidth / defaultFieldWidth apply; "width W" and
// "height H" after the element override).
inline QList<Expected> parseTable(const char *table, int defaultLabelWidth = 0, int defaultFieldWidth = 0)
{
    static const QRegularExpression row(
        QStringLiteral("^\\|\\s*(\\d+)\\s*\\|\\s*(\\d+)\\s*\\|(?:\\s*(\\d+)\\s*\\|)?\\s*(?:label \"([^\"]*)\"|field "
                       "`([^`]*)`)(?:,\\s*width (\\d+))?(?:,\\s*height (\\d+))?\\s*\\|$"));
    QList<Expected> out;
    for (const QString &line : QString::fromUtf8(table).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString t = line.trimmed();
        if (t.isEmpty())
            continue;
        const auto m = row.match(t);
        if (!m.hasMatch())
            qFatal("unreadable row: %s", qPrintable(t));
        Expected e;
        const bool label = m.capturedLength(4) > 0 || m.captured(5).isEmpty();
        e.kind = label ? ElementKind::Label : ElementKind::Field;
        e.text = label ? m.captured(4) : m.captured(5);
        int width = label ? defaultLabelWidth : defaultFieldWidth;
        if (m.capturedLength(3))
            width = m.captured(3).toInt();
        if (m.capturedLength(6))
            width = m.captured(6).toInt();
        const int height = m.capturedLength(7) ? m.captured(7).toInt() : 240;
        e.rect = QRect(m.captured(2).toInt(), m.captured(1).toInt(), width, height);
        out << e;
    }
    return out;
}

inline const char *kCaseDetail = "| 75 | 0 | 675 | label \"门诊号:\" |\n"
                                 "| 75 | 780 | 1005 | field `门诊号` |\n"
                                 "| 75 | 6345 | 420 | label \"婚否\", height 255 |\n"
                                 "| 90 | 4995 | 1305 | field `专业` |\n"
                                 "| 90 | 6840 | 915 | field `婚否`, height 270 |\n"
                                 "| 105 | 1830 | 495 | label \"姓名:\" |\n"
                                 "| 105 | 2370 | 1005 | field `姓名` |\n"
                                 "| 105 | 3945 | 460 | field `年龄`, height 270 |\n"
                                 "| 105 | 4455 | 495 | label \"专业:\" |\n"
                                 "| 120 | 3450 | 460 | label \"年龄\" |\n"
                                 "| 495 | 0 | 465 | label \"性别:\" |\n"
                                 "| 510 | 570 | 465 | field `性别` |\n"
                                 "| 510 | 1065 | 465 | label \"科室:\" |\n"
                                 "| 540 | 1560 | 1200 | field `科室` |\n"
                                 "| 540 | 2820 | 465 | label \"电话:\" |\n"
                                 "| 540 | 4560 | 795 | label \"出生年月:\" |\n"
                                 "| 555 | 3345 | 1155 | field `联系电话` |\n"
                                 "| 555 | 5445 | 1905 | field `出生年月` |\n"
                                 "| 885 | 3690 | 600 | label \"身份证\" |\n"
                                 "| 900 | 4515 | 2490 | field `身份证` |\n"
                                 "| 915 | 0 | 855 | label \"家庭住址:\" |\n"
                                 "| 915 | 855 | 2745 | field `家庭住址` |\n"
                                 "| 1215 | 0 | 495 | label \"入诊时间:\", height 465 |\n"
                                 "| 1230 | 1815 | 495 | label \"邮政编码:\", height 465 |\n"
                                 "| 1230 | 3405 | 465 | label \"体格检查\", height 465 |\n"
                                 "| 1230 | 3990 | 3675 | field `体格检查`, height 480 |\n"
                                 "| 1350 | 2310 | 1050 | field `邮政编码` |\n"
                                 "| 1365 | 555 | 1440 | field `入诊时间` |\n"
                                 "| 1800 | 615 | 5655 | field `症状`, height 405 |\n"
                                 "| 1830 | 0 | 480 | label \"症状\", height 300 |\n"
                                 "| 2250 | 615 | 5760 | field `诊断`, height 375 |\n"
                                 "| 2295 | 15 | 510 | label \"诊断\", height 285 |\n"
                                 "| 2775 | 960 | 5325 | field `既往病史`, height 345 |\n"
                                 "| 2790 | 0 | 825 | label \"既往病史\", height 315 |\n"
                                 "| 3240 | 885 | 5745 | field `药名`, height 690 |\n"
                                 "| 3390 | 0 | 585 | label \"药名\", height 300 |\n"
                                 "| 4020 | 675 | 5970 | field `药量`, height 630 |\n"
                                 "| 4080 | 0 | 480 | label \"药量\", height 330 |\n"
                                 "| 4695 | 645 | 6990 | field `备注`, height 840 |\n"
                                 "| 4875 | 0 | 405 | label \"备注:\" |\n"
                                 "| 5820 | 4515 | 1050 | label \"医生签字\" |\n"
                                 "| 5835 | 5835 | 870 | field `医生签字` |\n";
inline const char *kCaseHeader = "| 60 | 2730 | 2475 | label \"青禾医院电子处方\", height 405 |\n";
inline const char *kCaseFooter = "| 315 | 5880 | 315 | label \"第\" |\n"
                                 "| 300 | 6165 | 345 | label \"%p\", height 210 |\n"
                                 "| 315 | 6480 | 465 | label \". 页\", height 180 |\n";

inline const char *kDeptDetail = "| 822 | 465 | label \"科室:\" |\n"
                                 "| 822 | 1905 | field `科室` |\n"
                                 "| 1377 | 465 | label \"年级:\" |\n"
                                 "| 1377 | 1950 | field `年级` |\n"
                                 "| 1932 | 465 | label \"年制:\" |\n"
                                 "| 1932 | 1950 | field `年制` |\n"
                                 "| 1932 | 4365 | label \"诊室:\" |\n"
                                 "| 1932 | 5805 | field `诊室` |\n"
                                 "| 2487 | 465 | label \"医生:\", height 255 |\n"
                                 "| 2487 | 1980 | field `医生`, height 255 |\n"
                                 "| 2487 | 4365 | label \"专业:\" |\n"
                                 "| 2487 | 5805 | field `专业` |\n"
                                 "| 3042 | 465 | label \"备注:\" |\n"
                                 "| 3042 | 1950 | field `备注`, width 4440, height 1365 |\n";
inline const char *kDeptFooter = "| 75 | 6495 | 495 | label \"第 .\", height 285 |\n"
                                 "| 60 | 6930 | 705 | label \"%p\" |\n"
                                 "| 60 | 7260 | 570 | label \". 页\", height 315 |\n";

inline const char *kRxDetail = "| 0 | 0 | 600 | label \"门诊号:\" |\n"
                               "| 0 | 567 | 1005 | field `门诊号` |\n"
                               "| 0 | 1701 | 495 | label \"姓名:\" |\n"
                               "| 0 | 2268 | 1440 | field `姓名` |\n"
                               "| 0 | 3969 | 495 | label \"年龄\" |\n"
                               "| 0 | 4535 | 567 | field `年龄`, height 270 |\n"
                               "| 0 | 5102 | 495 | label \"性别:\" |\n"
                               "| 0 | 5669 | 567 | field `性别` |\n"
                               "| 0 | 6236 | 420 | label \"婚否\", height 255 |\n"
                               "| 0 | 6803 | 900 | field `婚否`, height 255 |\n"
                               "| 567 | 0 | 495 | label \"电话:\" |\n"
                               "| 567 | 567 | 1440 | field `联系电话` |\n"
                               "| 567 | 2268 | 495 | label \"科室:\" |\n"
                               "| 567 | 2835 | 1440 | field `科室` |\n"
                               "| 567 | 4535 | 600 | label \"身份证\" |\n"
                               "| 567 | 5102 | 2265 | field `身份证` |\n"
                               "| 1134 | 0 | 495 | label \"出生年月:\", height 465 |\n"
                               "| 1134 | 567 | 1440 | field `出生年月` |\n"
                               "| 1134 | 2268 | 495 | label \"邮政编码:\", height 465 |\n"
                               "| 1134 | 2835 | 1200 | field `邮政编码` |\n"
                               "| 1134 | 4535 | 495 | label \"入诊时间:\", height 465 |\n"
                               "| 1134 | 5102 | 1440 | field `入诊时间` |\n"
                               "| 1701 | 0 | 495 | label \"家庭住址:\", height 465 |\n"
                               "| 1701 | 567 | 3000 | field `家庭住址` |\n"
                               "| 1701 | 3969 | 495 | label \"既往病史\", height 465 |\n"
                               "| 1701 | 4535 | 3402 | field `既往病史`, height 345 |\n"
                               "| 2268 | 0 | 480 | label \"症状\" |\n"
                               "| 2268 | 567 | 6795 | field `症状`, height 480 |\n"
                               "| 2835 | 0 | 480 | label \"体格检查\", height 450 |\n"
                               "| 2835 | 567 | 6795 | field `体格检查`, height 480 |\n"
                               "| 3402 | 0 | 510 | label \"诊断\", height 285 |\n"
                               "| 3402 | 567 | 7365 | field `诊断`, height 375 |\n"
                               "| 3969 | 0 | 495 | label \"备注:\" |\n"
                               "| 3969 | 567 | 6795 | field `备注`, height 555 |\n"
                               "| 4535 | 0 | 585 | label \"药名\", height 300 |\n"
                               "| 4535 | 567 | 3960 | field `药名`, height 1701 |\n"
                               "| 4535 | 4535 | 480 | label \"药量\", height 330 |\n"
                               "| 4535 | 5102 | 2265 | field `药量`, height 1701 |\n"
                               "| 6236 | 5102 | 795 | label \"医生签字\" |\n"
                               "| 6236 | 6236 | 870 | field `医生签字` |\n";
inline const char *kRxHeader = "| 0 | 2268 | 2475 | label \"青禾医院电子处方\", height 405 |\n";
inline const char *kRxFooter = "| 0 | 6236 | 315 | label \"第\" |\n"
                               "| 0 | 6803 | 345 | label \"%p\" |\n"
                               "| 0 | 7370 | 465 | label \". 页\" |\n";

}  // namespace layouttables
