#pragma once

#include "cloud/dropbox/QVFileInfo.h"

#include <QString>
#include <memory>

namespace corvex {

// The synchronisation record of one file (a document or the index): a remote version to
// take in, the local copy in use, and a local change waiting for upload. Immutable and
// shared; a change makes a new record, and records compare by identity.
class DocumentInfo
{
public:
    using Ref = std::shared_ptr<const DocumentInfo>;

    DocumentInfo(QVFileInfo::Ref input, QVFileInfo::Ref current, QVFileInfo::Ref output);
    static Ref make(QVFileInfo::Ref input, QVFileInfo::Ref current, QVFileInfo::Ref output);

    const QVFileInfo::Ref& input() const { return mInput; }
    const QVFileInfo::Ref& current() const { return mCurrent; }
    const QVFileInfo::Ref& output() const { return mOutput; }

    Ref withInput(QVFileInfo::Ref input) const;
    Ref withCurrent(QVFileInfo::Ref current) const;
    Ref withOutput(QVFileInfo::Ref output) const;

    // A downloaded remote version meets a pending local change.
    bool inConflict() const;
    bool containsData() const;
    QString description() const;

private:
    QVFileInfo::Ref mInput;
    QVFileInfo::Ref mCurrent;
    QVFileInfo::Ref mOutput;
};

} // namespace corvex
