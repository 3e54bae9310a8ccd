#pragma once
#include <QDate>
#include <QString>
#include <vector>

// A prescription as the 处方笺 prints it: the patient's part (前记), the drug
// lines (正文) and what the sheets come to. The prescribing window fills it
// from the work row, the drug catalogue and the lines kept with the row; the
// 处方笺 dialog lets the doctor complete each line, checks it, and prints it.
namespace xs {

// The special control a drug is under, as the catalogue names it.
inline const QString kControlOrdinary = QStringLiteral("普通");
inline const QString kControlNarcotic = QStringLiteral("麻醉药品");
inline const QString kControlPsychotropic1 = QStringLiteral("第一类精神药品");
inline const QString kControlPsychotropic2 = QStringLiteral("第二类精神药品");
inline const QString kControlToxic = QStringLiteral("医疗用毒性药品");

// One drug of the prescription.
struct RxLine {
    QString code;            // the catalogue's 编码 ("" when the entry has no catalogue row)
    QString entry;           // the 表1 text that was picked
    QString category;        // its 表1 column (one of the seventeen)
    QString generic;         // 通用名 (the entry itself when the catalogue has no row)
    QString form;            // 剂型
    QString spec;            // 规格
    QString quantity;        // 数量, as typed in the quantity box
    QString unit;            // 单位: the unit dispensed (盒, 瓶, 支, g …)
    QString dose;            // 单次剂量
    QString doseUnit;        // its unit (mg, g, ml, 片 …)
    QString route;           // 用法: 口服, 静脉滴注, 外用 …
    QString frequency;       // 频次: qd, bid, tid, qid, q8h, q12h, qn, prn …
    QString days;            // 天数, as typed ("" not yet given)
    QString reason;          // why more days than allowed ("" none given)
    QString price;           // 单价 in yuan, decimal text ("" unknown)
    QString control;         // 特殊管理 (kControl…), 普通 when unknown
    QString allergy;         // 过敏类别: 青霉素类, 头孢菌素类, 磺胺类 … ("" none)
    bool skinTest = false;   // 皮试: a skin test comes before the first dose
    bool withdrawn = false;  // 停用: no longer dispensed
    // A 中药饮片 (the 中药 category): printed on a sheet of its own.
    bool herbal() const { return category == QStringLiteral("中药"); }
};

// The patient's part of the sheet and what the checks need of the record.
struct RxHeader {
    QString institution = QStringLiteral("青禾医院");
    QString fee = QStringLiteral("自费");  // 费别: 自费, 医保, 公费, 其他
    QString number;                        // 处方编号
    QString name;
    QString sex;              // 男 / 女 ("" unknown)
    QDate birth;              // from 出生年月, else from the 身份证 number
    QString caseNo;           // 门诊号
    QString department;       // 科别
    QString diagnosis;        // 临床诊断
    QDate date;               // 开具日期
    QString idNumber;         // 身份证
    QString doctor;           // 医师
    QString history;          // 既往病史 and 备注, for the allergy warning (never printed)
    bool emergency = false;   // an 急诊 prescription: light yellow, 3 days at most
    bool paediatric = false;  // an 儿科 prescription: light green
};

// The kinds of sheet: the paper's colour and the mark in its corner.
enum class RxKind {
    Ordinary,       // white, no mark
    Emergency,      // light yellow, "急诊"
    Paediatric,     // light green, "儿科"
    Narcotic,       // light red, "麻、精一" (麻醉药品 and 第一类精神药品)
    Psychotropic2,  // white, "精二"
};

// One printed sheet: at most five lines, all of one kind; 中药饮片 on sheets of their own.
struct RxSheet {
    RxKind kind = RxKind::Ordinary;
    bool herbal = false;
    std::vector<int> lines;  // indices into the prescription's lines, in their order
};

}  // namespace xs
