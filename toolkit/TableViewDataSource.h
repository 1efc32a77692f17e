#pragma once

#include <QtGlobal>
#include <memory>

namespace corvex {

class TableView;
class View;

// What a TableView shows: its row count and a new view for each row. Main thread only.
class TableViewDataSource
{
public:
    virtual ~TableViewDataSource();
    virtual qint64 numberOfRowsInTableView(TableView& table) = 0;
    // A null view leaves the row empty.
    virtual std::shared_ptr<View> viewForRow(TableView& table, qint64 row) = 0;
};

} // namespace corvex
