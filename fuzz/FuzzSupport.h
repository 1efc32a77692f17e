#pragma once

// Shared by the fuzz targets that read files back from disk.

#include "platform/core/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvex::fuzz {

// Damaged inputs are the common case: their log lines would only slow the run.
inline void silenceLog()
{
    static const bool silenced = [] {
        Log::setSink([](LogLevel, const QString&) {});
        return true;
    }();
    (void)silenced;
}

// The fuzzer's bytes as a QByteArray over them, without a copy.
inline QByteArray inputBytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A folder of this process's own, emptied for each input; nothing when none can be made.
inline std::optional<QDir> emptyScratchFolder()
{
    static const QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    QDir scratch(folder.path());
    for (const QString& name : scratch.entryList(QDir::Files | QDir::Hidden))
        QFile::remove(scratch.filePath(name));
    return scratch;
}

} // namespace corvex::fuzz
