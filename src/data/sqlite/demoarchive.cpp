#include "data/sqlite/demoarchive.h"

#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"
#include "data/sqlite/demodata.h"
#include "data/sqlite/sqlite.h"
#include "data/sqltext.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QStringList>
#include <map>
#include <random>
#include <sqlite3.h>
#include <vector>

namespace xs {

namespace {

// What a visit to one kind of department looks like.
struct Clinical {
    const char *findings;   // 体格检查
    const char *history;    // 既往病史
    const char *symptoms;   // 症状
    const char *diagnosis;  // 诊断
    const char *drugs;      // 药名
    const char *amounts;    // 药量
};

enum class Patients { Anyone, Women, Mothers, Children };

struct Speciality {
    const char *name;   // the department's name in the demo data
    const char *group;  // its group there
    const char *room;   // consulting room
    Patients patients;
    std::vector<Clinical> visits;
};

const std::vector<Speciality> &specialities()
{
    static const std::vector<Speciality> s = {
        {"心血管内科",
         "内科",
         "门诊楼二楼201室",
         Patients::Anyone,
         {{"血压 156/98 mmHg，心率 82 次/分，律齐", "高血压病史五年", "头晕、头痛一周，晨起明显", "原发性高血压（2级）",
           "硝苯地平控释片 30mg、缬沙坦胶囊 80mg", "1盒;1盒;"},
          {"心率 96 次/分，心律绝对不齐", "冠心病病史三年", "阵发性心悸、胸闷两天", "心房颤动",
           "酒石酸美托洛尔片 25mg、华法林钠片 2.5mg", "2盒;1盒;"},
          {"血压 132/84 mmHg，心肺听诊无异常", "否认慢性病史", "活动后胸骨后闷痛，休息后缓解", "稳定型心绞痛",
           "单硝酸异山梨酯缓释片 40mg、阿司匹林肠溶片 100mg", "1盒;1盒;"}}},
        {"呼吸内科",
         "内科",
         "门诊楼二楼203室",
         Patients::Anyone,
         {{"双肺可闻及散在哮鸣音，呼气相延长", "支气管哮喘病史十年", "反复喘息、气促，夜间加重", "支气管哮喘 急性发作",
           "布地奈德福莫特罗吸入粉雾剂 160μg/4.5μg、孟鲁司特钠片 10mg", "1支;1盒;"},
          {"体温 38.2℃，右下肺可闻及湿啰音", "无特殊", "咳嗽、咳黄痰三天，伴发热", "社区获得性肺炎",
           "左氧氟沙星片 0.5g、氨溴索口服溶液 100ml", "1盒;1瓶;"},
          {"咽部充血，双肺呼吸音清", "慢性咽炎", "咳嗽两周，干咳为主", "急性支气管炎",
           "复方甘草口服溶液 100ml、右美沙芬片 15mg", "1瓶;1盒;"}}},
        {"消化内科",
         "内科",
         "门诊楼二楼205室",
         Patients::Anyone,
         {{"上腹部轻压痛，无反跳痛", "慢性胃炎病史", "上腹隐痛、反酸一月", "慢性浅表性胃炎",
           "奥美拉唑肠溶胶囊 20mg、铝碳酸镁咀嚼片 0.5g", "2盒;1盒;"},
          {"剑突下压痛，肠鸣音正常", "幽门螺杆菌感染", "饥饿时上腹痛，进食后缓解", "十二指肠球部溃疡",
           "雷贝拉唑钠肠溶片 10mg、阿莫西林胶囊 0.25g、克拉霉素片 0.25g", "2盒;2盒;1盒;"},
          {"腹软，脐周轻压痛，肠鸣音活跃", "无特殊", "腹泻三天，每日四五次，稀水样便", "急性肠炎",
           "蒙脱石散 3g、口服补液盐散", "1盒;3袋;"}}},
        {"神经内科",
         "内科",
         "门诊楼二楼207室",
         Patients::Anyone,
         {{"神经系统查体未见阳性体征", "偏头痛病史", "反复发作性单侧搏动性头痛", "偏头痛",
           "盐酸氟桂利嗪胶囊 5mg、布洛芬缓释胶囊 0.3g", "1盒;1盒;"},
          {"右侧肢体肌力4级，病理征阴性", "脑梗死病史", "右侧肢体无力三月", "脑梗死恢复期",
           "阿司匹林肠溶片 100mg、阿托伐他汀钙片 20mg", "1盒;1盒;"},
          {"眼震阴性，闭目难立征阴性", "颈椎病", "头晕伴恶心，转头时加重", "后循环缺血",
           "甲磺酸倍他司汀片 6mg、银杏叶片", "1盒;1盒;"}}},
        {"内分泌科",
         "内科",
         "门诊楼二楼209室",
         Patients::Anyone,
         {{"空腹血糖 9.6 mmol/L，体重指数 27", "2型糖尿病病史四年", "口干、多饮、多尿一月", "2型糖尿病",
           "盐酸二甲双胍片 0.5g、格列美脲片 2mg", "2盒;1盒;"},
          {"甲状腺Ⅱ度肿大，心率 104 次/分", "无特殊", "怕热、多汗、消瘦两月", "甲状腺功能亢进症",
           "甲巯咪唑片 10mg、盐酸普萘洛尔片 10mg", "2盒;1盒;"}}},
        {"普通外科",
         "外科",
         "门诊楼一楼106室",
         Patients::Anyone,
         {{"右手背见 2cm 裂伤，创缘整齐", "无特殊", "切菜时不慎割伤右手", "右手背皮肤裂伤",
           "头孢呋辛酯片 0.25g、破伤风抗毒素", "1盒;1支;"},
          {"背部可触及 3cm 皮下肿物，活动度好", "无特殊", "发现背部肿物半年", "背部脂肪瘤", "无", "无"}}},
        {"骨科",
         "外科",
         "门诊楼一楼108室",
         Patients::Anyone,
         {{"L4-5 棘突旁压痛，直腿抬高试验阳性", "腰椎间盘突出症", "腰痛伴左下肢放射痛两周", "腰椎间盘突出症",
           "塞来昔布胶囊 0.2g、甲钴胺片 0.5mg", "1盒;2盒;"},
          {"右膝关节肿胀，浮髌试验阳性", "膝骨关节炎", "右膝疼痛、上下楼加重", "右膝骨关节炎",
           "双氯芬酸钠缓释片 75mg、氨基葡萄糖胶囊 0.25g", "1盒;2盒;"}}},
        {"泌尿外科",
         "外科",
         "门诊楼一楼110室",
         Patients::Anyone,
         {{"左肾区叩击痛阳性", "泌尿系结石病史", "左侧腰部绞痛伴血尿一天", "左输尿管结石",
           "盐酸坦索罗辛缓释胶囊 0.2mg、消旋山莨菪碱片 5mg", "1盒;1盒;"}}},
        {"妇科",
         "妇产科",
         "门诊楼三楼301室",
         Patients::Women,
         {{"外阴正常，阴道分泌物增多", "无特殊", "白带增多伴外阴瘙痒一周", "外阴阴道假丝酵母菌病",
           "硝酸咪康唑栓 0.2g、克霉唑阴道片 0.5g", "1盒;1盒;"},
          {"子宫正常大小，附件区无压痛", "无特殊", "月经周期紊乱三月", "异常子宫出血", "地屈孕酮片 10mg", "1盒;"}}},
        {"产科",
         "妇产科",
         "门诊楼三楼303室",
         Patients::Mothers,
         {{"宫高 28cm，胎心 142 次/分", "G1P0", "孕 28 周常规产检", "宫内孕28周 单活胎",
           "多糖铁复合物胶囊 150mg、碳酸钙D3片", "1盒;1盒;"}}},
        {"儿内科",
         "儿科",
         "门诊楼三楼305室",
         Patients::Children,
         {{"体温 38.6℃，咽部充血，扁桃体Ⅱ度肿大", "无特殊", "发热、咽痛两天，最高体温39℃", "急性扁桃体炎",
           "布洛芬混悬液 100ml、阿莫西林克拉维酸钾颗粒", "1瓶;1盒;"},
          {"精神可，前囟已闭，腹软", "无特殊", "腹泻两天，蛋花汤样便", "小儿腹泻病",
           "蒙脱石散 3g、枯草杆菌二联活菌颗粒", "1盒;1盒;"}}},
        {"儿童保健科",
         "儿科",
         "门诊楼三楼307室",
         Patients::Children,
         {{"身高体重位于同龄儿童 P50", "无特殊", "常规生长发育评估", "生长发育正常", "维生素D滴剂 400IU", "1盒;"}}},
        {"眼科",
         "五官科",
         "门诊楼四楼401室",
         Patients::Anyone,
         {{"双眼结膜充血，分泌物增多", "无特殊", "双眼红、痒、分泌物多三天", "急性细菌性结膜炎",
           "左氧氟沙星滴眼液 5ml、玻璃酸钠滴眼液", "1支;1支;"},
          {"晶状体皮质混浊，视力 0.4", "高血压", "双眼视物模糊逐年加重", "年龄相关性白内障", "吡诺克辛滴眼液",
           "2支;"}}},
        {"耳鼻咽喉科",
         "五官科",
         "门诊楼四楼403室",
         Patients::Anyone,
         {{"鼻黏膜苍白水肿，下鼻甲肿大", "过敏性鼻炎", "鼻塞、流清涕、打喷嚏两周", "变应性鼻炎",
           "糠酸莫米松鼻喷雾剂、氯雷他定片 10mg", "1支;1盒;"},
          {"咽后壁淋巴滤泡增生", "无特殊", "咽部异物感三月", "慢性咽炎", "咽炎片、西地碘含片 1.5mg", "1盒;1盒;"}}},
        {"口腔科",
         "五官科",
         "门诊楼四楼405室",
         Patients::Anyone,
         {{"右下第一磨牙深龋，叩痛阳性", "无特殊", "右下后牙夜间自发痛两天", "急性牙髓炎",
           "甲硝唑片 0.2g、布洛芬缓释胶囊 0.3g", "1盒;1盒;"},
          {"下唇内侧见 3mm 溃疡，周围充血", "复发性口腔溃疡", "口腔溃疡疼痛三天", "复发性阿弗他溃疡",
           "西地碘含片 1.5mg、维生素B2片 5mg", "1盒;1瓶;"}}},
        {"中医内科",
         "中医科",
         "中医楼一楼102室",
         Patients::Anyone,
         {{"舌淡苔白，脉细弱", "无特殊", "失眠多梦、乏力一月", "不寐（心脾两虚）", "归脾丸、酸枣仁汤", "2盒;7剂;"},
          {"舌红苔黄腻，脉滑数", "慢性胃炎", "胃脘胀满、口苦纳差", "胃痞（脾胃湿热）", "香砂养胃丸、半夏泻心汤",
           "2盒;7剂;"}}},
        {"针灸推拿科",
         "中医科",
         "中医楼一楼104室",
         Patients::Anyone,
         {{"颈部肌肉紧张，压痛明显", "颈椎病", "颈肩部酸痛两周", "颈椎病（颈型）", "颈复康颗粒、针灸治疗",
           "1盒;5次;"}}},
    };
    return s;
}

const QList<QByteArray> &words(const char *text)
{
    // Cached split of a word list given as one space-separated literal.
    static std::map<const char *, QList<QByteArray>> cache;
    auto it = cache.find(text);
    if (it == cache.end())
        it = cache.emplace(text, QByteArray(text).split(' ')).first;
    return it->second;
}

const char kSurnames[] =
    "王 李 张 刘 陈 杨 黄 赵 吴 周 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 宋 唐 许 韩 冯 邓 曹 彭 曾 肖 田 董 袁 潘 "
    "于 蒋 蔡 余 杜 叶 程 苏 魏 吕 丁 任 沈 姚 卢 姜 崔 钟 谭 陆 汪 范 金 石 廖 贾 夏 韦 付 方 白 邹 孟 熊 秦 邱 江 尹 "
    "薛 闫 段 雷 侯 龙 史 陶 黎 贺 顾 毛 郝 龚 邵 万 钱 严 欧阳 司马 诸葛";
const char kMaleGiven[] =
    "伟 强 磊 军 洋 勇 杰 涛 明 超 刚 平 辉 鹏 华 飞 鑫 波 斌 宇 浩 凯 健 俊 帆 帅 旭 宁 龙 林 建华 志强 国平 立新 "
    "海涛 文博 建军 振东 家豪 子轩 浩然 宇航 俊杰 志明 永刚 德胜 春生 明辉 晓东 建国 卫东 天佑 嘉懿 一鸣 思远";
const char kFemaleGiven[] =
    "芳 娜 敏 静 丽 艳 娟 霞 燕 玲 婷 雪 颖 琳 倩 慧 洁 萍 红 梅 秀英 玉兰 桂英 丽华 晓梅 红梅 淑芬 春燕 立群 "
    "梦瑶 雨涵 欣怡 诗琪 子涵 思彤 佳怡 可馨 若曦 婉清 美玲 秀珍 凤英 金凤 海燕 晓丽 雅琴 慧敏 文静 一诺";
const char kCities[] = "江苏省苏州市姑苏区 江苏省苏州市吴中区 江苏省苏州市吴江区 江苏省苏州市相城区 江苏省无锡市梁溪区 "
                       "江苏省无锡市滨湖区 江苏省南京市鼓楼区 江苏省南京市秦淮区 浙江省杭州市西湖区 浙江省嘉兴市南湖区 "
                       "上海市闵行区 上海市浦东新区 安徽省合肥市蜀山区 山东省济南市历下区";
const char kStreets[] =
    "人民路 干将西路 十全街 宝带西路 东吴北路 流虹路 长江路 中山北路 解放路 建设路 湖滨路 文化路 青年路 "
    "南门路 新华路 学府路 友谊路 和平路 金鸡湖大道 太湖东路";
const char kCampuses[] = "总院 东院 西院 南院 北院 新区 城北 城南 开发区";
// Postal codes of the cities above, in the same order.
const char kPostcodes[] =
    "215000 215128 215200 215131 214000 214071 210009 210001 310012 314001 201100 200120 230031 250014";
const char kPhonePrefixes[] =
    "130 131 132 133 135 136 137 138 139 150 151 152 155 157 158 159 166 177 180 181 186 187 189 199";
const char kRemarks[] = "无 无 无 无 医保 医保 复诊 复诊 自费 初诊 建议两周后复诊 过敏史：青霉素";
// 身份证 area codes that match the cities above, roughly.
const char kAreas[] =
    "320508 320506 320509 320507 320213 320211 320106 320104 330106 330402 310112 310115 340104 370102";

template <class Rng>
const QByteArray &pick(Rng &rng, const QList<QByteArray> &list)
{
    return list[qsizetype(std::uniform_int_distribution<qsizetype>(0, list.size() - 1)(rng))];
}

QByteArray dateBytes(const QDate &d) { return d.toString(QStringLiteral("yyyy-MM-dd")).toLatin1(); }

// An identity card number with a correct check digit.
QByteArray identityNumber(const QByteArray &area, const QDate &birth, int sequence, bool male)
{
    QByteArray id = area + birth.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    int seq = sequence % 1000;
    if ((seq % 2 == 1) != male)
        seq = (seq + 1) % 1000;
    id += QByteArray::number(seq).rightJustified(3, '0');
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static const char checks[] = "10X98765432";
    int sum = 0;
    for (int i = 0; i < 17; ++i)
        sum += (id[i] - '0') * weights[i];
    id += checks[sum % 11];
    return id;
}

struct Department {
    QByteArray name;
    QByteArray doctor;
    const Speciality *speciality = nullptr;
};

bool insertGeneratedDepartments(const Connection &c, const DemoArchiveOptions &o, QString *error)
{
    const auto &campuses = words(kCampuses);
    // The groups of the demo data, repeated on each campus.
    QList<QByteArray> baseGroups;
    for (const Speciality &s : specialities())
        if (!baseGroups.contains(QByteArray(s.group)))
            baseGroups << QByteArray(s.group);
    const int groups = std::max(1, o.groups);
    StmtHandle ins =
        c.prepare(QStringLiteral("INSERT INTO class(年级,科室,诊室,年制,专业,医生,备注) VALUES(?,?,?,?,?,?,?)"));
    if (!ins)
        return failWith(error, c.lastError());
    std::mt19937 rng(7);
    const auto &surnames = words(kSurnames);
    const auto &given = words(kMaleGiven);
    QHash<QByteArray, int> used;
    for (int d = 0; d < o.departments; ++d) {
        const int g = d % groups;
        const QByteArray campus = campuses[(g / baseGroups.size()) % campuses.size()];
        const QByteArray base = baseGroups[g % baseGroups.size()];
        // Group names stay unique past the campuses' count.
        QByteArray group = campus + base;
        if (g >= campuses.size() * baseGroups.size())
            group += QByteArray::number(g / (campuses.size() * baseGroups.size()) + 1) + "部";
        std::vector<const Speciality *> inGroup;
        for (const Speciality &s : specialities())
            if (base == s.group)
                inGroup.push_back(&s);
        const Speciality *s = inGroup[size_t((d / groups) % int(inGroup.size()))];
        const QByteArray stem = campus + s->name;
        const int area = ++used[stem];
        const QByteArray name = stem + QByteArray::number(area) + "诊区";
        const QByteArray doctor = pick(rng, surnames) + pick(rng, given);
        const QByteArray values[7] = {
            group, name, QByteArray(s->room) + "-" + QByteArray::number(area), "周一至周五", s->name, doctor, "无"};
        sqlite3_reset(ins.get());
        for (int i = 0; i < 7; ++i)
            sqlite3_bind_text(ins.get(), i + 1, values[i].constData(), int(values[i].size()), SQLITE_TRANSIENT);
        if (sqlite3_step(ins.get()) != SQLITE_DONE)
            return failWith(error, c.lastError());
    }
    return true;
}

// The departments now in class, with the speciality whose visits fit them.
std::vector<Department> readDepartments(const Connection &c)
{
    std::vector<Department> out;
    const StmtHandle s = c.prepare(QStringLiteral("SELECT 科室, 医生, 专业 FROM class ORDER BY rowid"));
    while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
        Department d;
        d.name = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(s.get(), 0)));
        d.doctor = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(s.get(), 1)));
        const QByteArray speciality(reinterpret_cast<const char *>(sqlite3_column_text(s.get(), 2)));
        for (const Speciality &sp : specialities())
            if (d.name.contains(sp.name) || speciality == sp.name)
                d.speciality = &sp;
        if (!d.speciality)
            d.speciality = &specialities().front();
        out.push_back(std::move(d));
    }
    return out;
}

// Sets the indexes of xj aside (their definitions are kept) so that the bulk
// insert writes the table alone; restoreIndexes builds them again in one pass.
QStringList dropCaseIndexes(const Connection &c)
{
    QStringList definitions, names;
    StmtHandle s = c.prepare(
        QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type='index' AND tbl_name='xj' AND sql IS NOT NULL"));
    while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
        names << columnText(s.get(), 0);
        definitions << columnText(s.get(), 1);
    }
    s.reset();
    QStringList dropped;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (c.exec(QStringLiteral("DROP INDEX \"%1\"").arg(QString(names[i]).replace(u'"', QStringLiteral("\"\"")))))
            dropped << definitions[i];
    return dropped;
}

bool generateRecords(const Connection &c, const DemoArchiveOptions &o, QString *error)
{
    const std::vector<Department> departments = readDepartments(c);
    if (departments.empty())
        return failWith(error, QStringLiteral("没有科室，无法生成病例档案"));
    StmtHandle ins = c.prepare(insertStatement(QStringLiteral("xj"), caseColumns(), caseColumns().size()));
    if (!ins)
        return failWith(error, c.lastError());

    std::mt19937 rng(20240301);
    const auto &surnames = words(kSurnames);
    const auto &maleGiven = words(kMaleGiven);
    const auto &femaleGiven = words(kFemaleGiven);
    const auto &cities = words(kCities);
    const auto &areas = words(kAreas);
    const auto &streets = words(kStreets);
    const auto &phones = words(kPhonePrefixes);
    const auto &postcodes = words(kPostcodes);
    const auto &remarks = words(kRemarks);
    std::uniform_int_distribution<int> dept(0, int(departments.size()) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> digits8(0, 99999999);

    // Ten years of visits, the outpatient number rising with the date.
    const QDate firstVisit(2015, 1, 5);
    const qint64 span = firstVisit.daysTo(QDate(2024, 12, 31));
    const int width = std::max(7, int(QByteArray::number(o.records).size()));
    QByteArray v[20];
    for (int r = 0; r < o.records; ++r) {
        const Department &d = departments[size_t(dept(rng))];
        const Speciality &sp = *d.speciality;
        const Clinical &visit = sp.visits[size_t(percent(rng)) % sp.visits.size()];
        const QDate visitDate = firstVisit.addDays(o.records > 1 ? qint64(r) * span / (o.records - 1) : 0);
        int age;
        bool male;
        switch (sp.patients) {
        case Patients::Children:
            age = percent(rng) % 14;
            male = percent(rng) < 52;
            break;
        case Patients::Mothers:
            age = 20 + percent(rng) % 22;
            male = false;
            break;
        case Patients::Women:
            age = 16 + percent(rng) % 60;
            male = false;
            break;
        default:
            age = 18 + (percent(rng) * 7 + percent(rng)) % 72;
            male = percent(rng) < 50;
            break;
        }
        const QDate birth = visitDate.addYears(-age).addDays(-(percent(rng) * 3 + 1));
        const int cityIndex = percent(rng) % int(cities.size());

        v[0] = 'M' + QByteArray::number(r + 1).rightJustified(width, '0');
        v[1] = pick(rng, surnames) + (male ? pick(rng, maleGiven) : pick(rng, femaleGiven));
        v[2] = male ? "男" : "女";
        v[3] = d.name;
        v[4] = dateBytes(birth);
        v[5] = cities[cityIndex] + pick(rng, streets) + QByteArray::number(1 + percent(rng) * 3) + "号";
        if (percent(rng) < 60)
            v[5] += QByteArray::number(1 + percent(rng) % 30) + "幢" + QByteArray::number(1 + percent(rng) % 18) + "0"
                    + QByteArray::number(1 + percent(rng) % 4) + "室";
        v[6] = postcodes[cityIndex % postcodes.size()];
        v[7] = pick(rng, phones) + QByteArray::number(digits8(rng)).rightJustified(8, '0');
        v[8] = dateBytes(visitDate);
        v[9] = pick(rng, remarks);
        v[10] = age < 22 ? "未婚" : (percent(rng) < 85 ? "已婚" : "未婚");
        v[11] = visit.findings;
        v[12] = visit.history;
        v[13] = visit.symptoms;
        v[14] = visit.diagnosis;
        v[15] = visit.drugs;
        v[16] = visit.amounts;
        v[17] = d.doctor;
        v[18] = QByteArray::number(age);
        v[19] = identityNumber(areas[cityIndex % areas.size()], birth, r, male);

        sqlite3_stmt *s = ins.get();
        sqlite3_reset(s);
        for (int i = 0; i < 20; ++i)
            sqlite3_bind_text(s, i + 1, v[i].constData(), int(v[i].size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE)
            return failWith(error, QStringLiteral("写入病例档案失败：%1").arg(c.lastError()));
        if (o.progress && (r + 1) % 50000 == 0)
            o.progress(r + 1);
    }
    return true;
}

}  // namespace

DemoArchiveOptions demoArchiveFor(int records)
{
    DemoArchiveOptions o;
    o.records = records;
    if (records >= 100000)
        o.departments = 2000;  // in the default 50 groups
    return o;
}

bool fillDemoArchive(const Connection &c, const DemoArchiveOptions &o, QString *error)
{
    if (o.records < 0 || o.departments < 0)
        return failWith(error, QStringLiteral("记录数和科室数不能是负数"));
    return atomically(c, error, [&](QString *why) {
        if (o.departments == 0) {
            if (!seedDemoDepartments(c, why))
                return false;
        } else if (!insertGeneratedDepartments(c, o, why)) {
            return false;
        }
        const QStringList indexes = dropCaseIndexes(c);
        if (!generateRecords(c, o, why))
            return false;
        for (const QString &sql : indexes)
            if (!c.exec(sql))
                return failWith(why, QStringLiteral("建索引失败：%1").arg(c.lastError()));
        // Statistics, so that the planner knows how the archive is spread.
        return c.exec("ANALYZE") || failWith(why, c.lastError());
    });
}

}  // namespace xs
