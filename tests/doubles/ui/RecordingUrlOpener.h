#pragma once

#include "platform/ui/UrlOpener.h"

#include <QList>

namespace corvex {

// An opener for tests: records every address handed on (only openable ones reach it) and
// answers `answer`.
class RecordingUrlOpener final : public UrlOpener
{
public:
    QList<QUrl> opened;
    bool answer = true;

protected:
    bool openCheckedUrl(const QUrl& url) override
    {
        opened.append(url);
        return answer;
    }
};

} // namespace corvex
