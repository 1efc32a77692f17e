#pragma once

#include "platform/core/Value.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

// One report directory as the reporter reads it at the next launch: its identity (the
// metadata's first line), dates, versions and which record files it holds. A directory a
// crash left half written reads as far as it goes: a missing line or key gives nothing.
class BBXInternalReport
{
public:
    static const QString MetadataFile;      // "metadata.bbxrecord"
    static const QString BinaryImagesFile;  // "binary_images.bbxrecord"
    static const QString ExceptionFile;     // "exception.bbxrecord"
    static const QString MachExceptionFile; // "mach_exception.bbxrecord"
    static const QString SignalFile;        // "signal.bbxrecord"

    // Nothing (logged) when the metadata's first line holds no "identity" -> "session_id".
    static std::shared_ptr<BBXInternalReport> reportWithPath(const QString& path);
    // Nothing when either is empty.
    static std::shared_ptr<BBXInternalReport> reportWithPath(const QString& path, const QString& identifier);

    QString path() const;
    void setPath(const QString& path);
    const QString& identifier() const { return mIdentifier; }
    QString directoryName() const;
    QString pathForContentFile(const QString& name) const;
    QString metadataPath() const { return pathForContentFile(MetadataFile); }
    QString binaryImagePath() const { return pathForContentFile(BinaryImagesFile); }

    std::optional<QString> APIKey() const;
    std::optional<QDateTime> dateCreated() const;
    std::optional<QString> OSVersion() const;
    std::optional<QString> OSBuildVersion() const;
    std::optional<QString> bundleVersion() const;
    std::optional<QString> bundleShortVersionString() const;
    std::optional<QDateTime> crashedOnDate() const;
    bool isCrash() const;
    bool needsToBeSubmitted() const;

    // The path of each crash file, in the order exception, mach exception, signal, whether it
    // exists or not.
    void enumerateSymbolicatableFilesInContent(const std::function<void(const QString& path)>& block) const;
    // The file's sections; nothing when there are none.
    static std::optional<ValueArray> readBBXFileAtPath(const QString& path);

private:
    BBXInternalReport(QString path, QString identifier);
    const ValueArray& metadataSections() const;
    std::optional<QString> metadataString(int line, const QString& section, const QString& key) const;
    bool hasContentFile(const QString& name) const;

    mutable std::mutex mMutex; // guards the path and the metadata
    QString mPath;
    const QString mIdentifier;
    mutable std::optional<ValueArray> mMetadata;
};

} // namespace corvex
