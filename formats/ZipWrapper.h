#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace corvex {

struct ZipWrapperDelegate;

// Zip archives over minizip (with zlib): unpacking an archive into a folder and packing
// files and folders into an archive. Everything runs synchronously on the calling thread;
// no state is shared between calls.
//
// Unpacking treats the archive as hostile. An entry whose name is absolute, holds a ".."
// component (also when spelled with backslashes, which count as separators) or a NUL is
// refused: nothing is written for it and the unzip returns NO. Files are created with
// O_NOFOLLOW below a folder walked with O_NOFOLLOW, so an existing symbolic link at a target
// or among its folders makes the unzip return NO instead of writing through it; a symbolic
// link stored in the archive becomes an ordinary file holding the link text. Permissions
// from the archive are masked to 0777 and applied only when that leaves something. A read
// error, a bad CRC, an entry shorter than it claims, a short write, a file that cannot be
// created or an encrypted entry without the right password returns NO. Files extracted
// before a failure stay; the file being written when it failed is removed.
//
// Inner ".zip" files are unpacked where they lie, to MaxNestingDepth levels below the
// archive (deeper ones stay as files, with a log line); all levels of one unzip share the
// limits on bytes written and entries, and passing one fails the whole unzip. An inner
// archive that fails otherwise stays as the file it was written as, and the unzip goes on:
// its failure is logged with the entry and the reason, and the outer call does not report
// it. An entry that would land on an archive still being read (an inner archive holding an
// entry of its own name, or the outer archive lying in the destination) is written under a
// fresh name and takes its own name only once that archive was read and closed; if that
// archive fails, the copy is dropped, since the archive keeping everything stays.
//
// Passwords are the UTF-8 of their text, when packing and when unpacking, as Info-ZIP's
// zip and unzip take them in a UTF-8 locale, with the traditional PKWARE encryption (see
// ZipCrypto.h). Packing with a password encrypts every entry; unpacking applies it to the
// entries marked encrypted and reads the others as they are.
//
// Packing writes through SaveFile: a temporary file beside the archive, renamed into place
// only when every entry was written and the archive was closed and flushed, with the old
// archive's permissions, or for a new archive 0666 less the umask: archives are made for the
// user (a symbolic link stays and its target is replaced). Every file entry says 0644 and
// every folder entry 0755, whatever the packed file's own mode, so that what unzip makes of
// the archive is readable by everyone. Any failure (a
// source that cannot be read included) returns NO, removes the temporary file and leaves an
// existing archive as it was, byte for byte. Every minizip result is checked.
class ZipWrapper
{
public:
    // The fields of an entry's record that reach delegates and progress handlers.
    struct FileInfo
    {
        quint32 versionMadeBy = 0;
        quint32 flag = 0;
        quint32 compressionMethod = 0;
        quint32 dosDate = 0;
        quint32 crc = 0;
        quint64 compressedSize = 0;
        quint64 uncompressedSize = 0;
        quint32 nameLength = 0;
        quint32 internalAttributes = 0;
        quint32 externalAttributes = 0;
    };
    struct GlobalInfo
    {
        quint64 numberOfEntries = 0;
    };

    // After each extracted entry: its name (backslashes as slashes), its record, the entries
    // extracted so far (from 1) and the archive's number of entries.
    using ProgressHandler =
        std::function<void(const QString& entry, const FileInfo& info, qint64 entryNumber, qint64 total)>;
    // Answered once at the end, on its queue after the unzip has returned: the archive path
    // (empty when the archive or its first entry could not be opened), the outcome and the
    // error (a null Error for failures without one).
    using CompletionHandler = Completion<const QString&, bool, const Error&>;

    // Every failed unzip answers an Error of this domain (out-argument and completion):
    // Error::FilePathKey holds the archive's path, EntryNameKey the name of the entry it is
    // about (as stored, control bytes as "\xNN"; absent for failures before the first
    // entry), and localizedFailureReason() names the entry and says why. The description
    // is the fixed text of the first three codes, else the same as the failure reason.
    static const QString ErrorDomain;  // "ZipWrapperErrorDomain"
    static const QString EntryNameKey; // "ZipWrapperEntryName"
    enum ErrorCode
    {
        FailedToOpenZipFile = -1,   // "failed to open zip file"
        FailedToOpenFirstFile = -2, // "failed to open first file in zip file"
        CrcCheckFailed = -3,        // "crc check failed for file"
        UnsafeEntryName = -4,       // absolute, a drive prefix, a ".." component or a NUL
        TargetRefused = -5,         // a symbolic link (or no plain file or folder) in the way
        LimitExceeded = -6,         // more entries or bytes than the bounds allow
        DamagedEntry = -7,          // data that does not decode or is not as long as it claims
        WrongPassword = -8,         // encrypted, and no password or the wrong one
        UnsupportedEntry = -9,      // a compression method other than stored or deflated
        DamagedArchive = -10,       // an entry minizip cannot find or step past
        FileSystemError = -11,      // a folder or file that cannot be made, written or closed
        Cancelled = -12,            // the delegate declined an entry
    };

    // The bounds of one unzip, nested archives included: inner archives unpacked below the
    // outer one, bytes written and entries met.
    static constexpr int MaxNestingDepth = 3;
    static constexpr qint64 MaxTotalBytes = qint64(1) << 30;
    static constexpr qint64 MaxEntries = 100000;
    struct Limits
    {
        int maxNestingDepth = MaxNestingDepth;
        qint64 maxTotalBytes = MaxTotalBytes;
        qint64 maxEntries = MaxEntries;
    };
    // Process-wide; tests and the fuzz target lower them. Any thread.
    static Limits limits();
    static void setLimits(const Limits& limits);

    // ---- Unpacking (overwrite YES and no password unless given)

    static bool unzipFileAtPath(const QString& path, const QString& destination);
    static bool unzipFileAtPath(const QString& path, const QString& destination,
                                ZipWrapperDelegate* delegate);
    static bool unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                const QString& password, Error* error,
                                ZipWrapperDelegate* delegate = nullptr);
    static bool unzipFileAtPath(const QString& path, const QString& destination,
                                ProgressHandler progressHandler, CompletionHandler completionHandler);
    static bool unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                const QString& password, ProgressHandler progressHandler,
                                CompletionHandler completionHandler);
    // The complete form; every other one forwards here.
    static bool unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                const QString& password, Error* error, ZipWrapperDelegate* delegate,
                                ProgressHandler progressHandler, CompletionHandler completionHandler);

    // ---- Packing

    // Each file under its last path component.
    static bool createZipFileAtPathWithFilesAtPaths(const QString& path, const QStringList& paths,
                                                    const QString& password = QString());
    // Every item below the folder, by path relative to it (with the folder's own name in
    // front when keepParentDirectory); an empty folder E becomes a zero-length entry
    // "E/.DS_Store". Items are taken in name order, so the same folder gives the same
    // entries. On failure, `error` (when given) says why (see error()).
    static bool createZipFileAtPathWithContentsOfDirectory(const QString& path, const QString& directory,
                                                           bool keepParentDirectory = false,
                                                           const QString& password = QString(),
                                                           Error* error = nullptr);

    // ---- An archive being written

    explicit ZipWrapper(const QString& path);
    // An archive still open is abandoned: nothing of it stays on disk.
    ~ZipWrapper();
    ZipWrapper(const ZipWrapper&) = delete;
    ZipWrapper& operator=(const ZipWrapper&) = delete;

    const QString& path() const { return mPath; }
    // Starts the archive (in a temporary file beside the path).
    [[nodiscard]] bool open();
    // Finishes the archive and puts it in place. NO when it was never opened, anything
    // written into it failed or finishing fails; the temporary file is removed then.
    [[nodiscard]] bool close();
    // The file under its last path component.
    bool writeFile(const QString& path, const QString& password = QString());
    // The file under `fileName` (its last path component when empty), with its modification
    // date.
    bool writeFileAtPath(const QString& path, const QString& fileName, const QString& password = QString());
    // Why packing failed: the file's own error when the archive could not be made or put in
    // place or a file could not be read, else an error of the domain (FileSystemError) naming
    // the archive.
    Error error() const;
    // An entry "<folderName>/" without data, with the folder's date.
    bool writeFolderAtPath(const QString& path, const QString& folderName,
                           const QString& password = QString());
    // The bytes as one entry dated now; NO for null data.
    bool writeData(const QByteArray& data, const QString& fileName, const QString& password = QString());

    // A packed DOS date and time as local time; an invalid QDateTime when the fields are no
    // date (a DOS date of 0 among them).
    static QDateTime dateWithMSDOSFormat(quint32 dosDate);

private:
    struct Archive;

    QString mPath;
    std::unique_ptr<Archive> mArchive;
    Error mError; // the failure, when its cause is known
};

} // namespace corvex
