#include "tests/support/LaterTurn.h"

namespace corvex::test {

namespace {
thread_local int tDepth = 0;
}

LaterTurn::LaterTurn()
{
    ++tDepth;
}

LaterTurn::~LaterTurn()
{
    --tDepth;
}

bool LaterTurn::active()
{
    return tDepth > 0;
}

} // namespace corvex::test
