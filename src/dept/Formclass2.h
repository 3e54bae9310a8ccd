#pragma once
#include "browser/RecordBrowser.h"

namespace xs {

// The department browser: rows of class per tree node or as the result of the
// department query; deleting a department deletes its case records too.
class Formclass2 : public RecordBrowser {
    Q_OBJECT
public:
    explicit Formclass2(QWidget *parent = nullptr);

    void classshowtitle() { writeTitles(); }
    void classshowdata() { listRows(); }
};

}  // namespace xs
