#pragma once
#include "prescribe/rxlines.h"
#include "ui/fieldform.h"
#include "ui/flexgrid.h"
#include "ui/window.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <array>
#include <optional>

namespace xs {

// The prescribing window: the archive xj and the work table yc in two grids,
// the patient fields of one prescription, the drug catalogue list of one
// category, the quantity box and the pick list. A top-level window of its own.
// Operations that change a table end by reopening the window (closing it and
// showing a fresh one), so that everything shows the tables as they now stand.
class Form2 : public XsWindow {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);
    bool isMdiChild() const override { return false; }
    // Focus to 门诊号, then load1 — when the user comes to this window from
    // another window of the application (not when a message box or the report
    // preview it opened itself closes, nor when the user returns from another
    // program).
    void activated() override;

    // Fills the department list and sets the patient fields up for the current
    // mode (CaseEditMode).
    void load1();
    // Replaces List1 with one column of the drug catalogue 表1, row by row.
    void drugload(const QString &column);

    // The size the window opens at: every control on view (the controls span
    // 23775 x 12855 twips, plus the menu bar), as far as the screen allows.
    QSize openingSize(const QSize &available) const;

    // Closes this window and shows a fresh one; returns the new window. Nothing
    // of this object may be used afterwards.
    Form2 *reopen();

    QMenuBar *menuBar;
    QMenu *wenjian;                       // "文件"
    QAction *baocun;                      // "保存"
    QAction *tuichu;                      // "退出"
    QMenu *yaowuchaxun;                   // "药物查询"
    std::array<QAction *, 17> drugEntry;  // one per catalogue column, menu order
    QAction *chazhao;                     // "查找药品…" (F3; Ctrl+F is the main window's 档案添加)
    QMenu *chufang;                       // "处方"
    QAction *sccf;                        // "生成处方"
    QAction *ck;                          // "清空打印库(按2次）"
    QAction *dayin;                       // "打印"
    QAction *chufangjian;                 // "处方笺…": the selected work row's lines, checked and printed

    QScrollArea *client;  // holds the controls; scrolls on a small screen
    FlexGrid *MSF1;
    FlexGrid *MSHFlexGrid1;
    QGroupBox *Frame2;
    std::array<TextBox *, 17> Text2;
    std::array<QComboBox *, 3> Combo1;  // 0 性别, 1 科室, 2 婚否
    std::array<QLabel *, 20> Label2;
    QListWidget *List1;
    QGroupBox *Frame1;
    QLineEdit *Text1;
    QLabel *Label4;
    QListWidget *List2;

    // The key of the work grid's current row: column 1, trimmed ("" when no
    // data row is current).
    QString workRowKey() const;

public slots:
    void List1_DblClick();
    // Picks a catalogue entry: appended to List2 with the quantity in Text1,
    // and to 药名 and 药量, unless List2 holds it already.
    void pickEntry(const QString &entry, const QString &category = QString());
    void chazhao_Click();
    void MSHFlexGrid1_DblClick();
    void baocun_Click();
    void tuichu_Click();
    void sccf_Click();
    void ck_Click();
    void dayin_Click();
    void chufangjian_Click();

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    enum class Came { Nothing, Window, Modal, Outside };
    void buildMenus();
    void buildFields();
    void fillGrid(FlexGrid *grid, const QString &table);
    QString fieldText(int column) const;
    void setFieldText(int column, const QString &text);
    bool setUp_ = false;
    // Modify mode: the 门诊号 of the work row that set-up loaded into the
    // fields (none when no row was found); 生成处方 stores into that row.
    std::optional<QString> loadedKey_;
    // The category List1 shows, and the drugs picked since the window opened
    // (they become the prescription's lines when it is stored).
    QString category_;
    std::vector<RxPick> picks_;
    Came came_ = Came::Nothing;
};

}  // namespace xs
