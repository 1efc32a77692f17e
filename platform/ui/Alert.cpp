#include "platform/ui/Alert.h"

namespace corvex {

int Alert::dismissalIndex() const
{
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i].type == CancelButton)
            return int(i);
    }
    return 0;
}

} // namespace corvex
