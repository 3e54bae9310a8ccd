#pragma once
#include "data/fault.h"

#include <QDate>
#include <QString>

// What a statement gives back, whatever the engine: a field's value, and the
// outcome of a statement.
namespace xs {

// A field value as the database gives it: text, date or null.
class Value {
public:
    enum class Kind { Null, Text, Date };
    Value() = default;
    Value(Kind k, QString raw) : kind_(k), raw_(std::move(raw)) {}
    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    // null -> empty text, date -> short date form, text -> itself.
    QString text() const;
    // The date of a date value (invalid for other kinds).
    QDate date() const;

private:
    Kind kind_ = Kind::Null;
    QString raw_;
};

struct SqlOutcome {
    bool ok = false;
    int changes = 0;  // rows changed by an action statement
    DbFault fault = DbFault::None;
    QString error;  // in Chinese: what happened and what to do
};

}  // namespace xs
