#pragma once
#include <QString>
#include <functional>
#include <memory>

namespace xs {

class Pager;

// What a FlexGrid shows below its title row when it shows a query: data rows
// 0.. of the result and columns 0.. of each. The grid asks only for the rows
// it paints and for the cells windows read.
class GridSource {
public:
    virtual ~GridSource() = default;
    virtual int columnCount() const = 0;
    virtual QString columnName(int c) const = 0;
    // Rows known to exist so far; all of them once countKnown().
    virtual int knownRows() const = 0;
    virtual bool countKnown() const = 0;
    // Blocks until the count is known.
    virtual void waitForCount() = 0;
    // Makes the rows after the known ones known; false when there are none.
    virtual bool fetchMore() = 0;
    // Any cell of any row (reading what it needs); "" beyond the result.
    virtual QString cell(int row, int c) = 0;
    // The current row: its text stays what the user saw until another is pinned.
    virtual void pin(int row) = 0;
    // Called from the event loop whenever knownRows() or countKnown() changed.
    std::function<void()> rowsChanged;
};

// A grid source over a query opened in the data layer.
std::unique_ptr<GridSource> querySource(std::unique_ptr<Pager> pager);

}  // namespace xs
