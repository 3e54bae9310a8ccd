#include "ui/gridsource.h"

#include "data/pager.h"

namespace xs {

namespace {
class QuerySource final : public GridSource {
public:
    explicit QuerySource(std::unique_ptr<Pager> p) : p_(std::move(p))
    {
        QObject::connect(p_.get(), &Pager::rowsChanged, p_.get(), [this] {
            if (rowsChanged)
                rowsChanged();
        });
    }
    int columnCount() const override { return p_->columnCount(); }
    QString columnName(int c) const override { return p_->columnName(c); }
    int knownRows() const override { return p_->knownRows(); }
    bool countKnown() const override { return p_->countKnown(); }
    void waitForCount() override { p_->waitForCount(); }
    bool fetchMore() override { return p_->fetchMore(); }
    QString cell(int row, int c) override { return p_->cell(row, c); }
    void pin(int row) override { p_->pin(row); }

private:
    std::unique_ptr<Pager> p_;
};
}  // namespace

std::unique_ptr<GridSource> querySource(std::unique_ptr<Pager> pager)
{
    if (!pager)
        return {};
    return std::make_unique<QuerySource>(std::move(pager));
}

}  // namespace xs
