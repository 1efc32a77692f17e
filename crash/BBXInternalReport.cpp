#include "crash/BBXInternalReport.h"

#include "crash/runtime/BBXFileReader.h"
#include "platform/core/Log.h"

#include <QFileInfo>
#include <QTimeZone>

namespace corvex {

const QString BBXInternalReport::MetadataFile = QStringLiteral("metadata.bbxrecord");
const QString BBXInternalReport::BinaryImagesFile = QStringLiteral("binary_images.bbxrecord");
const QString BBXInternalReport::ExceptionFile = QStringLiteral("exception.bbxrecord");
const QString BBXInternalReport::MachExceptionFile = QStringLiteral("mach_exception.bbxrecord");
const QString BBXInternalReport::SignalFile = QStringLiteral("signal.bbxrecord");

namespace {

// The value of a one-key section named `name`; null otherwise.
const Value& sectionValue(const Value& section, const QString& name)
{
    static const Value none;
    if (!section.isDictionary())
        return none;
    return section.value(name);
}

std::optional<QDateTime> secondsDate(const Value& value)
{
    if (!value.isNumber() || value.toInteger() < 0)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(value.toInteger(), QTimeZone::utc());
}

} // namespace

BBXInternalReport::BBXInternalReport(QString path, QString identifier)
    : mPath(std::move(path)), mIdentifier(std::move(identifier))
{}

std::shared_ptr<BBXInternalReport> BBXInternalReport::reportWithPath(const QString& path,
                                                                     const QString& identifier)
{
    if (path.isEmpty() || identifier.isEmpty())
        return nullptr;
    return std::shared_ptr<BBXInternalReport>(new BBXInternalReport(path, identifier));
}

std::shared_ptr<BBXInternalReport> BBXInternalReport::reportWithPath(const QString& path)
{
    std::shared_ptr<BBXInternalReport> report(new BBXInternalReport(path, QString()));
    const std::optional<QString> identifier =
        report->metadataString(0, QStringLiteral("identity"), QStringLiteral("session_id"));
    if (!identifier || identifier->isEmpty()) {
        Log::error(QStringLiteral("[Blackbox:Crash] Unable to read identifier at path %1").arg(path));
        return nullptr;
    }
    auto made = reportWithPath(path, *identifier);
    made->mMetadata = report->mMetadata;
    return made;
}

QString BBXInternalReport::path() const
{
    std::lock_guard lock(mMutex);
    return mPath;
}

void BBXInternalReport::setPath(const QString& path)
{
    std::lock_guard lock(mMutex);
    mPath = path;
}

QString BBXInternalReport::directoryName() const
{
    return QFileInfo(path()).fileName();
}

QString BBXInternalReport::pathForContentFile(const QString& name) const
{
    return path() + QLatin1Char('/') + name;
}

std::optional<ValueArray> BBXInternalReport::readBBXFileAtPath(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    std::optional<ValueArray> sections = BBXFileReadSections(path, false);
    if (!sections || sections->empty())
        return std::nullopt;
    return sections;
}

const ValueArray& BBXInternalReport::metadataSections() const
{
    std::lock_guard lock(mMutex);
    if (!mMetadata)
        mMetadata = readBBXFileAtPath(mPath + QLatin1Char('/') + MetadataFile).value_or(ValueArray());
    return *mMetadata;
}

std::optional<QString> BBXInternalReport::metadataString(int line, const QString& section,
                                                         const QString& key) const
{
    const ValueArray& sections = metadataSections();
    if (line >= int(sections.size()))
        return std::nullopt;
    const Value& value = sectionValue(sections[std::size_t(line)], section);
    if (!value.isDictionary() || !value.value(key).isString())
        return std::nullopt;
    return value.value(key).toString();
}

std::optional<QString> BBXInternalReport::APIKey() const
{
    return metadataString(0, QStringLiteral("identity"), QStringLiteral("api_key"));
}

std::optional<QDateTime> BBXInternalReport::dateCreated() const
{
    const ValueArray& sections = metadataSections();
    if (sections.empty())
        return std::nullopt;
    const Value& identity = sectionValue(sections[0], QStringLiteral("identity"));
    return identity.isDictionary() ? secondsDate(identity.value(QStringLiteral("started_at"))) : std::nullopt;
}

std::optional<QString> BBXInternalReport::OSVersion() const
{
    return metadataString(1, QStringLiteral("host"), QStringLiteral("os_display_version"));
}
std::optional<QString> BBXInternalReport::OSBuildVersion() const
{
    return metadataString(1, QStringLiteral("host"), QStringLiteral("os_build_version"));
}
std::optional<QString> BBXInternalReport::bundleVersion() const
{
    return metadataString(2, QStringLiteral("application"), QStringLiteral("build_version"));
}
std::optional<QString> BBXInternalReport::bundleShortVersionString() const
{
    return metadataString(2, QStringLiteral("application"), QStringLiteral("display_version"));
}

std::optional<QDateTime> BBXInternalReport::crashedOnDate() const
{
    if (!isCrash())
        return std::nullopt;
    const auto firstSectionTime = [this](const QString& file,
                                         const QString& section) -> std::optional<QDateTime> {
        const std::optional<ValueArray> sections = readBBXFileAtPath(pathForContentFile(file));
        if (!sections)
            return std::nullopt;
        const Value& value = sectionValue(sections->front(), section);
        return value.isDictionary() ? secondsDate(value.value(QStringLiteral("time"))) : std::nullopt;
    };
    if (auto date = firstSectionTime(MachExceptionFile, QStringLiteral("mach_exception")))
        return date;
    return firstSectionTime(SignalFile, QStringLiteral("signal"));
}

bool BBXInternalReport::hasContentFile(const QString& name) const
{
    return QFileInfo::exists(pathForContentFile(name));
}

bool BBXInternalReport::isCrash() const
{
    return hasContentFile(ExceptionFile) || hasContentFile(MachExceptionFile) || hasContentFile(SignalFile);
}

bool BBXInternalReport::needsToBeSubmitted() const
{
    static const QString names[] = {ExceptionFile,
                                    SignalFile,
                                    QStringLiteral("custom_exception_a.bbxrecord"),
                                    QStringLiteral("custom_exception_b.bbxrecord"),
                                    MachExceptionFile,
                                    QStringLiteral("errors_a.bbxrecord"),
                                    QStringLiteral("errors_b.bbxrecord")};
    for (const QString& name : names) {
        if (hasContentFile(name))
            return true;
    }
    return false;
}

void BBXInternalReport::enumerateSymbolicatableFilesInContent(
    const std::function<void(const QString& path)>& block) const
{
    block(pathForContentFile(ExceptionFile));
    block(pathForContentFile(MachExceptionFile));
    block(pathForContentFile(SignalFile));
}

} // namespace corvex
