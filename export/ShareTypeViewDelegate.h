#pragma once

#include "model/Idea.h"
#include "storage/IdeaDocument.h"

#include <QDateTime>
#include <QString>

namespace corvex {

// What a pane of the export dialog asks of the dialog: the tree to export, where its document
// is stored, when it last changed, and to close or to tell the user of a failure. The pane
// holds its delegate weakly (the dialog owns the pane). Main thread only.
class ShareTypeViewDelegate
{
public:
    virtual ~ShareTypeViewDelegate();

    virtual void pleaseClose() = 0;
    // The idea the dialog was given; panes export its root.
    virtual IdeaPtr idea() const = 0;
    virtual StorageLocation location() const = 0;
    virtual QDateTime lastModified() const = 0;
    // An alert that does not occupy the screen: an export that failed, or a written file the
    // mail program did not take.
    virtual void showExportAlert(const QString& title, const QString& message) = 0;
};

} // namespace corvex
