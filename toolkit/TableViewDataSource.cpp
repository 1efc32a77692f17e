#include "toolkit/TableViewDataSource.h"

namespace corvex {

TableViewDataSource::~TableViewDataSource() = default;

} // namespace corvex
