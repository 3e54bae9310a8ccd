#pragma once
#include <QString>
#include <functional>

namespace xs {
class Connection;

// A demo archive of any size: departments in their groups and `records` case
// records with realistic names, sexes, ages, birth dates, identity card
// numbers, addresses, telephones, visit dates (spread over ten years, rising
// with the outpatient number), findings, diagnoses and prescriptions that fit
// the department. The same options always give the same archive.
struct DemoArchiveOptions {
    int records = 0;
    // 0: the demo departments of the seed data (17 in 6 groups); otherwise
    // this many departments spread over `groups` groups, named after the
    // campus, the speciality and a consulting area ("东院心血管内科2诊区").
    int departments = 0;
    int groups = 50;
    // Called now and then with the records written so far (may be empty).
    std::function<void(int done)> progress;
};

// The department count the tool uses for a demo archive of `records` case
// records: the demo departments up to 100,000 records, 2,000 departments in
// 50 groups from there on (an archive that large belongs to a big clinic).
DemoArchiveOptions demoArchiveFor(int records);

// Fills class and xj of an empty database. Runs inside a savepoint: nothing
// is kept when it fails. The indexes of xj are set aside during the bulk
// insert and built again once, and the planner's statistics are gathered.
bool fillDemoArchive(const Connection &c, const DemoArchiveOptions &options, QString *error = nullptr);

}  // namespace xs
