#include "export/TextShareTypeView.h"

#include "formats/TextExporter.h"
#include "model/Idea.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TextView.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

constexpr double kSecondCheckboxGap = 60;
constexpr double kSecondLabelGap = 100;

} // namespace

TextShareTypeView::TextShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(
          std::move(delegate),
          Form{3,
               QStringLiteral("text_icon_inactive"),
               QStringLiteral("Text"),
               QStringLiteral("Export nested list of element titles. Result is easy to embed in other "
                              "documents."),
               QStringLiteral("txt"),
               {{QStringLiteral("Include notes"), true}, {QStringLiteral("HTML formatting"), false}},
               true})
{}

QString TextShareTypeView::fileTypeSuffix() const
{
    const auto html = htmlFormatButton();
    return html && html->toggled() ? QStringLiteral("html") : ShareTypeView::fileTypeSuffix();
}

void TextShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const IdeaPtr root = exportedRoot();
    if (!root) {
        ShareTypeView::saveToFileAtURL(url, std::move(completion));
        return;
    }
    const bool notes = notesButton()->toggled();
    const QString text = htmlFormatButton()->toggled() ? TextExporter::ideaAsNestedHTMLList(root, notes)
                                                       : TextExporter::ideaAsTextOutline(root, notes);
    saveData(text.toUtf8(), url, std::move(completion));
}

void TextShareTypeView::applyLayout()
{
    ShareTypeView::applyLayout();
    const auto notesLabel = optionLabel(0);
    const auto htmlLabel = optionLabel(1);
    if (!notesLabel || !htmlLabel)
        return;
    // The second option stands beside the first.
    const double notesRight = ViewExtensions::rightFrameLine(*notesLabel);
    ViewExtensions::setTopLeftCorner(*htmlLabel,
                                     Point(notesRight + kSecondLabelGap, notesLabel->frame().minY()));
    ViewExtensions::setMiddleLeftPosition(*htmlFormatButton(),
                                          Point(notesRight + kSecondCheckboxGap, htmlLabel->frame().midY()));
}

} // namespace corvex
