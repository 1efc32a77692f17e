#pragma once

#include "export/WebExportFiles.h"
#include "model/Idea.h"
#include "platform/core/Result.h"

#include <QUrl>
#include <functional>

namespace corvex {

// Writes an idea tree as a zip archive holding a small web site: the offline viewer, the
// tree as files/data.js, the pictures and attachments of the ideas, a preview image, the
// index page and, for the two web styles, the instructions page. Style 0 is the
// presentation (with the emoji pictures in include/), 1 the embedded map behind a cover
// page, 2 the full-page map; any other writes mode "presentation" and is otherwise a web
// style.
//
// The tree is copied (identifiers kept) on the calling thread, the main thread, before the
// call returns, so the export never reads the live tree. Then, one step after another: the
// data and picture files on the exporter's queue, the attachments through the storage
// facade, the index page, the viewer archive, the emoji archive (style 0), the instructions
// page (other styles), the preview, and the archive packed into the destination through
// SaveFile. The site is built in a fresh folder "site" inside a fresh temporary folder of
// FileUtil, which the start-up clean-up removes later.
//
// The completion is answered once, on its queue: success when the archive was written, else an
// ExportProblems error naming the destination and the reason of the step that failed (a file
// that cannot be written, an attachment without data, a missing or broken resource, the
// packing), with an existing destination left as it was. A null root or a destination that is
// no local file fails at once (the completion still answers later, on its queue).
class WebExporter
{
public:
    WebExporter() = delete;

    using Completion = corvex::Completion<const Status&>;

    static void saveWebExportFrom(const IdeaPtr& root, quint64 location, quint64 style, const QUrl& url,
                                  Completion completion);
    // The same with attachments taken from `source` (tests).
    static void saveWebExportFrom(const IdeaPtr& root, quint64 location, quint64 style, const QUrl& url,
                                  Completion completion, WebExportFiles::AttachmentSource source);
};

} // namespace corvex
