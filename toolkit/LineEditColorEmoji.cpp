#include "toolkit/LineEditColorEmoji.h"

#include "platform/gfx/EmojiClusters.h"
#include "platform/gfx/PlatformFont.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTextCharFormat>

namespace corvex {

void LineEditColorEmoji::attach(QLineEdit& edit)
{
    new LineEditColorEmoji(edit);
}

LineEditColorEmoji::LineEditColorEmoji(QLineEdit& edit) : QObject(&edit), mEdit(edit)
{
    edit.installEventFilter(this);
    connect(&edit, &QLineEdit::textChanged, this, [this] { apply(); });
    apply();
}

bool LineEditColorEmoji::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::InputMethod && !mApplying) {
        const bool was = mComposing;
        mComposing = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
        // A composition given up changes no text: the formats come back once its event is done.
        if (was && !mComposing)
            QMetaObject::invokeMethod(
                this, [this] { apply(); }, Qt::QueuedConnection);
    } else if (event->type() == QEvent::FontChange)
        apply();
    return false;
}

void LineEditColorEmoji::apply()
{
    if (mComposing || mApplying || mEdit.echoMode() != QLineEdit::Normal || mEdit.isReadOnly())
        return;
    const std::vector<EmojiClusters::Range> clusters = EmojiClusters::find(mEdit.text());
    if (clusters.empty() && !mFormatted)
        return;
    QTextCharFormat format;
    format.setFont(PlatformFont::colorEmojiFont(mEdit.font()), QTextCharFormat::FontPropertiesAll);
    // An input method's formats start at the cursor.
    const int cursor = mEdit.cursorPosition();
    QList<QInputMethodEvent::Attribute> attributes;
    for (const EmojiClusters::Range& cluster : clusters)
        attributes.append(QInputMethodEvent::Attribute(
            QInputMethodEvent::TextFormat, int(cluster.start) - cursor, int(cluster.length), format));
    QInputMethodEvent event(QString(), attributes);
    mApplying = true;
    QCoreApplication::sendEvent(&mEdit, &event);
    mApplying = false;
    mFormatted = !clusters.empty();
}

} // namespace corvex
