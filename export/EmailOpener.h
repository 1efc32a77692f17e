#pragma once

#include "platform/core/Completion.h"

#include <QString>
#include <memory>

namespace corvex {

// Hands a written file to the user's mail program as the attachment of a new message. The
// application uses XdgEmailOpener; tests install a recording opener with setCurrent(). Main
// thread only.
class EmailOpener
{
public:
    // Whether the mail program took the file.
    using Completion = corvex::Completion<bool>;

    virtual ~EmailOpener();

    // Starts handing the file over; the completion is answered once, on its queue, never
    // inside this call.
    virtual void openFileInMail(const QString& path, Completion completion) = 0;

    // The installed opener, else an XdgEmailOpener made on first use.
    static std::shared_ptr<EmailOpener> current();
    // Installs an opener (null goes back to the default) and answers the one installed
    // before (null when it was the default).
    static std::shared_ptr<EmailOpener> setCurrent(std::shared_ptr<EmailOpener> opener);
};

} // namespace corvex
