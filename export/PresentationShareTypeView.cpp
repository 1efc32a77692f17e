#include "export/PresentationShareTypeView.h"

#include "export/ShareTypeViewDelegate.h"
#include "export/WebExporter.h"

namespace corvex {

namespace {

constexpr quint64 kPresentationStyle = 0;

} // namespace

PresentationShareTypeView::PresentationShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(std::move(delegate),
                    Form{2, QStringLiteral("presentation_icon_inactive"), QStringLiteral("Presen-\ntation"),
                         QStringLiteral("Export interactive mind map for offline presentation.") +
                             QString(16, QLatin1Char(' ')),
                         QStringLiteral("zip")})
{}

void PresentationShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const auto owner = delegate();
    WebExporter::saveWebExportFrom(exportedRoot(), owner ? owner->location() : 0, kPresentationStyle, url,
                                   std::move(completion));
}

} // namespace corvex
