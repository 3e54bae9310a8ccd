#include "dept/Formclass2.h"

#include "data/globals.h"
#include "dept/DataReportclass2.h"
#include "dept/Formclass1.h"
#include "dept/Formclass3.h"

namespace xs {

namespace {

BrowserParams deptBrowser()
{
    BrowserParams p{
        .caption = "浏览科室",
        .clientWidth = 11910,
        .clientHeight = 5730,
        .frame1 = {0, 960, 3015, 4695},
        .tree = {120, 240, 2775, 4335},
        .frame2 = {3120, 0, 8655, 5655},
        .grid = {120, 240, 8445, 5295},
        .rootLines = true,
        .columns = {{"", 100},
                    {"年级", 1300},
                    {"科室", 1200},
                    {"诊室", 800},
                    {"年制", 800},
                    {"专业", 800},
                    {"医生", 800},
                    {"备注", 5000}},
        .keepEmptyRows = false,
        .keyColumn = 2,
        .selectColumn = 1,
        .nodeHead = QStringLiteral(" select * from class where 年级='"),
        .nodeMiddle = QStringLiteral("' or 科室='"),
        .nodeTail = QStringLiteral("' order by 年级 ,科室 "),
        .trimNodeText = true,
        // The department goes, and the case records that name it with it.
        .deleteHeads = {QStringLiteral("delete * from class where 科室='"),
                        QStringLiteral("delete * from xj where 科室='")},
        .deleteQuestionTail = QStringLiteral("该操作会导致该学生交费记录和成绩记录的丢失！确定吗？"),
        .rightsBeforeSelection = true,
        .noRecordQueryMessage = QStringLiteral("对不起，没有此科室的档案记录！"),
        .queryFlag = &DeptQueryFlag,
        .editMode = &DeptEditMode,
        .clearQueryFlagOnClose = false,
        .findQuery = []() -> QWidget * { return WindowRegistry::find<Formclass3>(); },
        .showQuery = []() -> QWidget * { return WindowRegistry::show<Formclass3>(); },
        .focusQueryFirstBox =
            [](QWidget *w) {
                if (auto *f = qobject_cast<Formclass3 *>(w))
                    f->Text1[0]->setFocus();
            },
        // The editor reads the 科室 of the current grid row itself in classload.
        .openEditor =
            [] {
                Formclass1 *editor = WindowRegistry::show<Formclass1>();
                editor->classload();
                WindowRegistry::bringToFront(editor);
            },
        .reportData = &DataEnv1.rsCommand2,
        .showReport = &DataReportclass2::Show,
    };
    return p;
}

}  // namespace

Formclass2::Formclass2(QWidget *parent) : RecordBrowser(deptBrowser(), parent)
{
    setObjectName(QStringLiteral("Formclass2"));
}

}  // namespace xs
