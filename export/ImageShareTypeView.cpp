#include "export/ImageShareTypeView.h"

#include "export/ImageExporter.h"
#include "formats/ExportProblems.h"
#include "platform/core/Log.h"
#include "toolkit/ButtonView.h"

namespace corvex {

ImageShareTypeView::ImageShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(std::move(delegate), Form{5,
                                              QStringLiteral("image_icon_inactive"),
                                              QStringLiteral("Image"),
                                              QStringLiteral("Export mindmap as PNG image."),
                                              QStringLiteral("png"),
                                              {{QStringLiteral("Transparent background"), false}}})
{}

void ImageShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const IdeaPtr root = exportedRoot();
    const QByteArray png =
        root ? ImageExporter::generatePNGImageFromIdea(root, transparencyButton()->toggled()) : QByteArray();
    // No image (a map too large for an offscreen bitmap): nothing is written.
    if (png.isEmpty()) {
        Log::warning(QStringLiteral("ImageShareTypeView: no image could be made of the map"));
        deliver(std::move(completion),
                ExportProblems::make(ExportProblems::NotMade, url.toLocalFile(),
                                     QStringLiteral("no image could be made of the map.")));
        return;
    }
    saveData(png, url, std::move(completion));
}

} // namespace corvex
