#pragma once

#include "platform/core/FileFingerprint.h"
#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <optional>

namespace corvex {

// What a local file's window records with its saved state about its document's kept copy (the
// copy in the temporary location, where every edit is stored at once) against the user's file:
// the file as it was when the two were last in step (opened from it, or saved into it), whether
// the kept copy holds edits the file lacks, and whether it fell behind (its last write failed:
// edits are in neither). A restored window chooses from it what to show, so that neither what
// the file holds now nor the edits are lost. Keys in the state: "fileSize", "fileModified",
// "fileSHA1", "keptCopyHoldsEdits", "keptCopyBehind".
class KeptCopyRecord
{
public:
    enum class Choice
    {
        KeptCopy,        // the file is as it was, and the kept copy holds all of it
        File,            // the file: the kept copy holds nothing it lacks
        FileAndKeptEdits // the file, and the kept copy's edits as a document of their own
    };

    KeptCopyRecord(FileFingerprint fileInStep, bool holdsEdits, bool behind);

    // The record of a saved state; none when the state holds none (saved before there were
    // records, or for a document without a file) or a damaged one.
    static std::optional<KeptCopyRecord> readFrom(const ValueDictionary& state);
    void writeInto(ValueDictionary& state) const;

    // What a restored window shows, given the file now (an error when it is gone or cannot
    // be read: the kept copy, as it is all there is).
    Choice choose(const Result<FileFingerprint>& fileNow) const;

    const FileFingerprint& fileInStep() const { return mFileInStep; }
    bool holdsEdits() const { return mHoldsEdits; }
    bool behind() const { return mBehind; }

private:
    FileFingerprint mFileInStep;
    bool mHoldsEdits = false;
    bool mBehind = false;
};

} // namespace corvex
