#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <vector>

namespace corvex {

// What a second launch hands the running instance over the instance socket: one argument a
// line, UTF-8, ending in "\n". A line is an absolute path, a "file:" URL (a local absolute
// path), or a URL of one of the schemes the receiver accepts (the sign-in redirect). The
// parser is the receiving end; it reads bytes from another process, so everything is
// bounded: a line longer than MaxLineBytes, one that is not UTF-8 or holds control
// characters, a relative path, a URL of another scheme are refused with a log line; more
// than MaxLines lines or MaxConnectionBytes bytes on one connection is a flood, after which
// the parser refuses everything and asks for the connection to be closed.
struct InstanceMessage
{
    enum class Kind
    {
        File, // `path` holds an absolute, cleaned local path
        Url   // `url` holds a URL of an accepted scheme
    };
    Kind kind = Kind::File;
    QString path;
    QUrl url;
};

class InstanceMessageParser
{
public:
    static constexpr qsizetype MaxLineBytes = 8192;
    static constexpr int MaxLines = 256;
    static constexpr qsizetype MaxConnectionBytes = 512 * 1024;

    // URLs are accepted only for these schemes (compared case-insensitively); "file" is
    // always accepted and becomes a File message.
    explicit InstanceMessageParser(QStringList urlSchemes = {});

    // The messages completed by these bytes, in order. Bytes after a flood are ignored.
    std::vector<InstanceMessage> feed(QByteArrayView bytes);
    // The connection ended: a last line without "\n" counts as a line.
    std::vector<InstanceMessage> finish();

    // True after a flood: the reader should close the connection.
    bool shouldClose() const { return mFlooded; }
    int refusedLines() const { return mRefused; }

    // One line without its "\n": a message, or false with the reason in `reason`.
    static bool parseLine(QByteArrayView line, const QStringList& urlSchemes, InstanceMessage* message,
                          QString* reason);

    // The lines a launch sends for its arguments: options ("-x") are left out; a path
    // (relative ones resolved against `workingDirectory`) becomes an absolute cleaned path,
    // a "file:" URL and any other URL are sent as given; a path holding a control character (a
    // line break) goes as a "file:" URL, escaped. Each line ends in "\n".
    static QByteArray linesForArguments(const QStringList& arguments, const QString& workingDirectory);

private:
    void takeLine(QByteArrayView line, std::vector<InstanceMessage>& out);

    QStringList mSchemes;
    QByteArray mPending;
    qsizetype mTotalBytes = 0;
    int mLines = 0;
    int mRefused = 0;
    bool mFlooded = false;
    bool mSkippingLongLine = false;
};

} // namespace corvex
