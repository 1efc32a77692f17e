#pragma once

#include "platform/core/Error.h"
#include "platform/core/Value.h"

#include <QString>
#include <QUrl>
#include <optional>

namespace corvex {

// A newer test build the beta service offered: its address and version, and the texts a
// prompt for it would show (the "Blackbox" strings table's keys; none is shipped, so the
// defaults).
class BBXBetaUpdate
{
public:
    // Needs a dictionary whose "url" is a string forming a URL; otherwise nothing, with the
    // error NSURLErrorDomain -1017 (cannot parse response) in `error`.
    static std::optional<BBXBetaUpdate> betaUpdateWithDictionary(const Value& dictionary, Error* error);
    // The answer's bytes as JSON, then as above; the JSON parser's error when they do not parse.
    static std::optional<BBXBetaUpdate> updateWithData(const QByteArray& data, Error* error);

    const QUrl& url() const { return mUrl; }
    const QString& version() const { return mVersion; }
    static QString promptTitle();
    static QString promptMessage(const QString& applicationName);
    static QString cancelLabel();
    static QString installLabel();

private:
    QUrl mUrl;
    QString mVersion;
};

} // namespace corvex
