#include "export/WebShareTypeView.h"

#include "export/ShareTypeViewDelegate.h"
#include "export/WebExporter.h"
#include "toolkit/ButtonView.h"

namespace corvex {

namespace {

constexpr quint64 kEmbeddedStyle = 1;
constexpr quint64 kFullPageStyle = 2;

} // namespace

WebShareTypeView::WebShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(
          std::move(delegate),
          Form{6,
               QStringLiteral("web_icon_inactive"),
               QStringLiteral("Web"),
               QStringLiteral("Export interactive mind map for embedding in a web-page. Resulting archive "
                              "contains instructions."),
               QStringLiteral("zip"),
               {{QStringLiteral("Include cover page"), true}},
               true})
{}

void WebShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const auto owner = delegate();
    const quint64 style = coverPageButton()->toggled() ? kEmbeddedStyle : kFullPageStyle;
    WebExporter::saveWebExportFrom(exportedRoot(), owner ? owner->location() : 0, style, url,
                                   std::move(completion));
}

} // namespace corvex
