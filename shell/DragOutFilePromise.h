#pragma once

#include "model/Idea.h"
#include "platform/core/Completion.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

// The file an idea dragged out of the application becomes: made once, on request, into a
// fresh folder of FileUtil::temporaryDirectoryForFile() under PromisedFileName's rule, as a
// document archive (ExportImport) of the idea's tree. Its URL is handed out only once the
// file is completely written; an idea that cannot be loaded or an export that fails leaves
// no URL. Main thread only.
class DragOutFilePromise : public std::enable_shared_from_this<DragOutFilePromise>
{
public:
    // The dragged idea, or null when it cannot be loaded.
    using IdeaCompletion = Completion<const IdeaPtr&>;
    using IdeaLoader = std::function<void(IdeaCompletion loaded)>;

    // `loader` fetches the dragged idea (asked once, when the file is first wanted); `docIdentifier` names
    // the storage location whose attachments the archive carries.
    DragOutFilePromise(QString title, QString docIdentifier, IdeaLoader loader);

    // Starts making the file (the first call only).
    void fulfil();
    bool started() const { return mStarted; }
    bool settled() const { return mSettled; }
    // The written file's URL: empty unless settled with success.
    QList<QUrl> urls() const;
    bool succeeded() const { return mSettled && !mFileUrl.isEmpty(); }

private:
    void settle(const QUrl& written);

    QString mTitle;
    QString mDocIdentifier;
    IdeaLoader mLoader;
    bool mStarted = false;
    bool mSettled = false;
    QUrl mFileUrl;
};

} // namespace corvex
