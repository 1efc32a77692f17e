#pragma once

#include <QObject>

class QLineEdit;

namespace corvex {

// Emoji in a line edit drawn as everywhere else: each emoji cluster whole in the colour face
// (EmojiClusters, PlatformFont::colorEmojiFont). Left to font fallback, a field shows an emoji
// in a black-and-white face, or its sequence split across faces. A line edit takes text
// formats only from an input method: after every change of its text or font, the clusters'
// formats are handed to it in an input method event that changes no text. Not while an input
// method composes: its own event then holds the formats, and ours would cancel its text.
class LineEditColorEmoji : public QObject
{
public:
    // Owned by the line edit.
    static void attach(QLineEdit& edit);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit LineEditColorEmoji(QLineEdit& edit);
    void apply();

    QLineEdit& mEdit;
    bool mComposing = false;
    bool mApplying = false;
    bool mFormatted = false;
};

} // namespace corvex
