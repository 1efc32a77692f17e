#pragma once

#include "export/EmailOpener.h"

namespace corvex {

// The application's mail hand-over: "xdg-email --attach <file>", which opens a new message
// in the desktop's mail program. Success is xdg-email ending with status 0; a program that
// cannot be started, crashes or answers another status fails. xdg-email stays until the
// mail program has taken the file, so the answer comes when it ends.
class XdgEmailOpener final : public EmailOpener
{
public:
    void openFileInMail(const QString& path, Completion completion) override;
};

} // namespace corvex
