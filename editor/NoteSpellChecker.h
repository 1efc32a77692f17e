#pragma once

#include <QString>
#include <QSyntaxHighlighter>

class QTextDocument;

namespace corvex {

// Underlines the misspelt words of a text document with a red wavy line, against the
// hunspell dictionary of the user's language (American English when there is none for it),
// from /usr/share/hunspell or the folder $CORVEX_HUNSPELL_DIR. Without a dictionary nothing
// is underlined and one line is logged per process. The dictionary is loaded once and shared.
// Being the note's one highlighter, it also sets the note's emoji in the colour face, each
// cluster whole (EmojiClusters), as they show everywhere else. Main thread only.
class NoteSpellChecker : public QSyntaxHighlighter
{
public:
    // A child of the document when one is given; setDocument attaches it later.
    explicit NoteSpellChecker(QTextDocument* document);
    ~NoteSpellChecker() override;

    // Whether a dictionary could be loaded.
    static bool hasDictionary();
    // The ".dic" file of the dictionary loaded; empty without one.
    static QString dictionaryFile();
    // Whether the word is spelt right (true without a dictionary).
    static bool isCorrect(const QString& word);
    // Checks the whole text again.
    void checkTextInDocument() { rehighlight(); }

protected:
    void highlightBlock(const QString& text) override;
};

} // namespace corvex
