#include "cases/Form3.h"

#include "cases/DataReportclass.h"
#include "cases/Form1.h"
#include "cases/Form4.h"
#include "data/globals.h"

namespace xs {

namespace {

BrowserParams caseBrowser()
{
    BrowserParams p{
        .caption = "浏览病例档案",
        .clientWidth = 11910,
        .clientHeight = 6255,
        .frame1 = {120, 960, 2895, 5175},
        .tree = {120, 240, 2655, 4815},
        .frame2 = {3120, 0, 8775, 6135},
        .grid = {120, 240, 8655, 5895},
        .rootLines = false,
        .columns = {{"", 800},          {"门诊号", 800},    {"姓名", 700},     {"性别", 500},     {"年级", 1000},
                    {"科室", 800},      {"专业", 700},      {"年制", 800},     {"出生年月", 800}, {"家庭住址", 3000},
                    {"邮政编码", 800},  {"联系电话", 1000}, {"入诊时间", 800}, {"备注", 6000},    {"婚否", 1000},
                    {"体格检查", 1000}, {"既往病史", 1000}, {"症状", 1000},    {"诊断", 1000},    {"药名", 800},
                    {"药量", 700},      {"医生签字", 800},  {"年龄", 800},     {"身份证", 800}},
        .keepEmptyRows = true,
        .keyColumn = 1,
        .selectColumn = 1,
        // A node lists the records of a department or of the departments of a
        // group. Every listed row joins xj.科室 to class.科室, and equality
        // (NOCASE, citext on both columns) is transitive, so the department
        // is asked of class: its indexes on 科室 and 年级 then find the
        // departments, and xj(科室, 门诊号) their records in order, at the cost
        // of the rows listed (asked of xj, the condition across the two
        // tables would read the whole archive and sort the matches).
        .nodeHead =
            QStringLiteral("select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,"
                           "xj.家庭住址,xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,"
                           "xj.症状,xj.诊断,xj.药名,xj.药量,xj.医生签字,xj.年龄,xj.身份证  from xj inner join class on "
                           "xj.科室=class.科室  where class.科室='"),
        .nodeMiddle = QStringLiteral("' or 年级='"),
        .nodeTail = QStringLiteral("' order by class.年级 ,class.科室 ,xj.门诊号 "),
        .trimNodeText = false,
        .deleteHeads = {QStringLiteral("delete * from xj where 门诊号='")},
        .deleteQuestionTail = QStringLiteral("该操作会导致该病例记录的丢失！确定吗？"),
        .rightsBeforeSelection = false,
        .noRecordQueryMessage = QStringLiteral("对不起，没有此病例的档案记录！"),
        .queryFlag = &CaseQueryFlag,
        .editMode = &CaseEditMode,
        .clearQueryFlagOnClose = true,
        .findQuery = []() -> QWidget * { return WindowRegistry::find<Form4>(); },
        .showQuery = []() -> QWidget * { return WindowRegistry::show<Form4>(); },
        .focusQueryFirstBox =
            [](QWidget *w) {
                if (auto *f = qobject_cast<Form4 *>(w))
                    f->Text1[0]->setFocus();
            },
        // The entry window reads the 门诊号 of the current grid row itself.
        .openEditor = [] { WindowRegistry::bringToFront(WindowRegistry::show<Form1>()); },
        .reportData = &DataEnv1.rsCommand1,
        .showReport = &DataReportclass::Show,
    };
    return p;
}

}  // namespace

Form3::Form3(QWidget *parent) : RecordBrowser(caseBrowser(), parent) { setObjectName(QStringLiteral("Form3")); }

}  // namespace xs
