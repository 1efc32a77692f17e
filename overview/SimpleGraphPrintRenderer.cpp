#include "overview/SimpleGraphPrintRenderer.h"

#include "model/Globals.h"
#include "overview/GraphTileFactory.h"
#include "overview/PageTextLine.h"
#include "platform/gfx/GraphicsContext.h"
#include "toolkit/DateFormatter.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr double kMapHeaderBand = 40;
constexpr double kDateBaselineBelowTop = 10;
constexpr double kTitleBaselineBelowTop = 38;

} // namespace

SimpleGraphPrintRenderer::SimpleGraphPrintRenderer(IdeaPtr idea, const QDateTime& lastModified)
    : mIdea(std::move(idea)), mLastModified(lastModified.isValid() ? lastModified : Globals::currentDate())
{}

AttributedString SimpleGraphPrintRenderer::newAttributedDateTime(const QDateTime& date)
{
    const QString locale = DateFormatter::currentLocaleName();
    const DateFormatter formatter(
        DateFormatter::dateFormatFromTemplate(QStringLiteral("yyyyMMdd   HHmm"), 0, locale), locale);
    return AttributedString(formatter.stringFromDate(date), Globals::fontAvenirHeavy(10),
                            Globals::colorGray46());
}

AttributedString SimpleGraphPrintRenderer::newAttributedNoteTitle(const QString& title)
{
    return AttributedString(title, Globals::fontAvenirMedium(22), Globals::colorBlack());
}

void SimpleGraphPrintRenderer::drawHeader(const QDateTime& date, const QString& title,
                                          GraphicsContext& context, const Rect& innerBox) const
{
    const PageTextLine dateLine(newAttributedDateTime(date), 0);
    dateLine.drawAtBaseline(context, Point(innerBox.origin.x, innerBox.maxY() - kDateBaselineBelowTop));
    if (title.isEmpty())
        return;
    const PageTextLine titleLine(newAttributedNoteTitle(title), innerBox.size.width);
    titleLine.drawAtBaseline(context, Point(innerBox.origin.x, innerBox.maxY() - kTitleBaselineBelowTop));
}

void SimpleGraphPrintRenderer::renderInContext(GraphicsContext& context, const Rect& pageRect) const
{
    const double x = pageRect.origin.x;
    const double y = pageRect.origin.y;
    const double w = pageRect.size.width;
    const double h = pageRect.size.height;
    context.setFillColor(Globals::colorWhite());
    context.fillRect(pageRect);
    drawHeader(mLastModified, mIdea ? mIdea->text() : QString(), context, pageRect);
    if (!mIdea)
        return;

    GraphTileFactory factory(mIdea, nullptr, false);
    factory.setNoteStyle(mShowNoteNumbers ? 2 : 0);
    const Size content = factory.contentSize();
    if (!(content.width > 0) || !(content.height > 0))
        return;
    const double mapHeight = h - kMapHeaderBand;
    const double zoom = std::min({w / content.width, mapHeight / content.height, 1.0});
    if (!(zoom > 0))
        return;
    context.saveGState();
    context.translateCTM((w - content.width * zoom) / 2 + x,
                         mapHeight + y - (mapHeight - content.height * zoom) / 2);
    context.scaleCTM(1, -1);
    factory.drawTile(Rect(0, 0, content.width, content.height), zoom, context);
    context.restoreGState();
}

} // namespace corvex
