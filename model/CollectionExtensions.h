#pragma once

#include <iterator>

namespace corvex {

// The emptiness test of mutable lists and sets, for any container (std::vector, std::set,
// QList, QSet ...).
class CollectionExtensions
{
public:
    template <class Container> static bool isEmpty(const Container& container)
    {
        return std::empty(container);
    }
};

} // namespace corvex
