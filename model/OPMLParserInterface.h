#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class Idea;

// What the payload readers need of the OPML reader: an idea tree from the bytes of an OPML
// file. The document-files layer installs the real parser; until then no parser is
// installed and OPML reads answer nothing.
class OPMLParserInterface
{
public:
    using Factory = std::function<std::unique_ptr<OPMLParserInterface>()>;

    virtual ~OPMLParserInterface();

    // The root idea of the outline; nullptr when the bytes yield none. A parser may be used
    // again; each call starts from a clean state.
    virtual std::shared_ptr<Idea> parseIdeaFromOPMLData(const QByteArray& data) = 0;
    // How the last parse ended, in words for the person who opened the file: why reading
    // stopped early (the ideas read before it are the tree answered) or why the bytes gave
    // no tree; empty when the whole outline was read (and by default).
    virtual QString lastProblem() const;
    // Whether the last parse gave no tree because the outline has more ideas than
    // IdeaDocumentDataObject::ideaBounds() allows, in all or below one idea (false by
    // default).
    enum class PassedBound
    {
        None,
        Ideas,
        Children,
    };
    virtual PassedBound passedBound() const { return PassedBound::None; }

    // Installs the factory that makes a parser for each read (an empty one removes it) and
    // answers the previous one. Any thread.
    static Factory installFactory(Factory factory);
    static bool isInstalled();
    // A new parser; nullptr when none is installed.
    static std::unique_ptr<OPMLParserInterface> make();
};

} // namespace corvex
