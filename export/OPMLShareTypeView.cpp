#include "export/OPMLShareTypeView.h"

#include "formats/OPMLWriter.h"
#include "model/Idea.h"

namespace corvex {

OPMLShareTypeView::OPMLShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(std::move(delegate),
                    Form{4, QStringLiteral("opml_icon_inactive"), QStringLiteral("OPML"),
                         QStringLiteral("Export as OPML document. Contains titles and notes. Mainly for "
                                        "interoperability between apps."),
                         QStringLiteral("opml")})
{}

void OPMLShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const IdeaPtr root = exportedRoot();
    if (!root) {
        ShareTypeView::saveToFileAtURL(url, std::move(completion));
        return;
    }
    saveData(OPMLWriter::ideaAsOPML(root).toUtf8(), url, std::move(completion));
}

} // namespace corvex
