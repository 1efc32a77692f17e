#pragma once

#include "platform/core/MainQueue.h"
#include "platform/ui/UrlOpener.h"

#include <QList>

namespace corvex {

// An opener for tests: records every address handed on (only openable ones reach it) and
// answers `answer`; a watched start fails (on the main queue) when `answer` is false or no
// browser `starts`.
class RecordingUrlOpener final : public UrlOpener
{
public:
    QList<QUrl> opened;
    bool answer = true;
    bool starts = true;

protected:
    bool openCheckedUrl(const QUrl& url) override
    {
        opened.append(url);
        return answer;
    }
    void openCheckedUrlWatchingStart(const QUrl& url, std::function<void()> failed) override
    {
        if (!openCheckedUrl(url) || !starts)
            MainQueue::post(std::move(failed));
    }
};

} // namespace corvex
