#include "mindmap/KeptCopyRecord.h"

#include <QRegularExpression>
#include <utility>

namespace corvex {

namespace {

const QString kFileSizeKey = QStringLiteral("fileSize");
const QString kFileModifiedKey = QStringLiteral("fileModified");
const QString kFileSha1Key = QStringLiteral("fileSHA1");
const QString kHoldsEditsKey = QStringLiteral("keptCopyHoldsEdits");
const QString kBehindKey = QStringLiteral("keptCopyBehind");

} // namespace

KeptCopyRecord::KeptCopyRecord(FileFingerprint fileInStep, bool holdsEdits, bool behind)
    : mFileInStep(std::move(fileInStep)), mHoldsEdits(holdsEdits), mBehind(behind)
{}

std::optional<KeptCopyRecord> KeptCopyRecord::readFrom(const ValueDictionary& state)
{
    static const QRegularExpression sha1(QStringLiteral("^[0-9a-f]{40}$"));
    const Value& size = state.value(kFileSizeKey);
    const Value& modified = state.value(kFileModifiedKey);
    const QString digest = state.value(kFileSha1Key).toString();
    if (!size.isNumber() || size.toInteger(-1) < 0 || !modified.isNumber() || !sha1.match(digest).hasMatch())
        return std::nullopt;
    FileFingerprint file;
    file.size = size.toInteger();
    file.modifiedMs = modified.toInteger();
    file.sha1 = digest;
    return KeptCopyRecord(file, state.value(kHoldsEditsKey).toBool(), state.value(kBehindKey).toBool());
}

void KeptCopyRecord::writeInto(ValueDictionary& state) const
{
    state.insert(kFileSizeKey, mFileInStep.size);
    state.insert(kFileModifiedKey, mFileInStep.modifiedMs);
    state.insert(kFileSha1Key, mFileInStep.sha1);
    state.insert(kHoldsEditsKey, mHoldsEdits);
    state.insert(kBehindKey, mBehind);
}

KeptCopyRecord::Choice KeptCopyRecord::choose(const Result<FileFingerprint>& fileNow) const
{
    if (!fileNow.ok())
        return Choice::KeptCopy;
    if (fileNow->sameContent(mFileInStep))
        // A kept copy behind the file, with nothing of its own, would undo the file's last save.
        return mBehind && !mHoldsEdits ? Choice::File : Choice::KeptCopy;
    return mHoldsEdits ? Choice::FileAndKeptEdits : Choice::File;
}

} // namespace corvex
