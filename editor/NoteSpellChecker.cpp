#include "editor/NoteSpellChecker.h"

#include "platform/core/Log.h"
#include "platform/gfx/EmojiClusters.h"
#include "platform/gfx/PlatformFont.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTextCharFormat>
#include <QTextDocument>
#include <hunspell/hunspell.hxx>
#include <memory>
#include <mutex>

namespace corvex {

namespace {

struct SharedSpeller
{
    std::unique_ptr<Hunspell> speller;
    QString dictionary; // the .dic file loaded
};

const SharedSpeller& sharedSpellerState()
{
    static SharedSpeller shared;
    static std::once_flag once;
    std::call_once(once, [] {
        QString folder = qEnvironmentVariable("CORVEX_HUNSPELL_DIR");
        if (folder.isEmpty())
            folder = QStringLiteral("/usr/share/hunspell");
        const QStringList names{QLocale().name(), QStringLiteral("en_US")};
        for (const QString& name : names) {
            const QString base = folder + QLatin1Char('/') + name;
            if (QFile::exists(base + QStringLiteral(".aff")) &&
                QFile::exists(base + QStringLiteral(".dic"))) {
                shared.speller =
                    std::make_unique<Hunspell>(QFile::encodeName(base + QStringLiteral(".aff")).constData(),
                                               QFile::encodeName(base + QStringLiteral(".dic")).constData());
                shared.dictionary = base + QStringLiteral(".dic");
                return;
            }
        }
        Log::warning(QStringLiteral("NoteSpellChecker: no hunspell dictionary in %1, spelling is not checked")
                         .arg(folder));
    });
    return shared;
}

Hunspell* sharedSpeller()
{
    return sharedSpellerState().speller.get();
}

} // namespace

NoteSpellChecker::NoteSpellChecker(QTextDocument* document) : QSyntaxHighlighter(document) {}

NoteSpellChecker::~NoteSpellChecker() = default;

QString NoteSpellChecker::dictionaryFile()
{
    return sharedSpellerState().dictionary;
}

bool NoteSpellChecker::hasDictionary()
{
    return sharedSpeller() != nullptr;
}

bool NoteSpellChecker::isCorrect(const QString& word)
{
    Hunspell* speller = sharedSpeller();
    if (!speller)
        return true;
    // The shipped dictionaries are UTF-8 or Latin-1: a word the dictionary's encoding cannot
    // hold is not judged.
    const QByteArray encoding(speller->get_dic_encoding());
    if (encoding.compare("UTF-8", Qt::CaseInsensitive) != 0) {
        for (const QChar c : word) {
            if (c.unicode() > 0xff)
                return true;
        }
        return speller->spell(word.toLatin1().toStdString());
    }
    return speller->spell(word.toStdString());
}

void NoteSpellChecker::highlightBlock(const QString& text)
{
    // Emoji in the colour face, each cluster whole: left to font fallback, a plain-text note
    // shows them in black-and-white faces, sequences split.
    const std::vector<EmojiClusters::Range> clusters = EmojiClusters::find(text);
    if (!clusters.empty()) {
        QTextCharFormat emoji;
        emoji.setFont(PlatformFont::colorEmojiFont(document()->defaultFont()),
                      QTextCharFormat::FontPropertiesAll);
        for (const EmojiClusters::Range& cluster : clusters)
            setFormat(int(cluster.start), int(cluster.length), emoji);
    }
    if (!hasDictionary())
        return;
    static const QRegularExpression words(QStringLiteral("[\\p{L}']+"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QTextCharFormat misspelt;
    misspelt.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
    misspelt.setUnderlineColor(Qt::red);
    for (auto it = words.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString word = match.captured();
        while (word.startsWith(QLatin1Char('\'')))
            word.remove(0, 1);
        while (word.endsWith(QLatin1Char('\'')))
            word.chop(1);
        if (!word.isEmpty() && !isCorrect(word))
            setFormat(int(match.capturedStart()), int(match.capturedLength()), misspelt);
    }
}

} // namespace corvex
