#pragma once
#include "browser/RecordBrowser.h"

namespace xs {

// The case record browser: case records of xj joined with their department in
// class, listed per tree node or as the result of the case record query.
class Form3 : public RecordBrowser {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);

    void tree() { buildTree(); }
    void showtitle() { writeTitles(); }
    void showdata() { listRows(); }
};

}  // namespace xs
