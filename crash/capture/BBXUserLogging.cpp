// Ordinary code, run on the logging queue.

#include "crash/capture/BBXUserLogging.h"

#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "crash/runtime/BBXSDKLog.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/SerialQueue.h"

#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <execinfo.h>
#include <unistd.h>

namespace corvex {

namespace {

std::atomic<BBXUserLoggingStores*> gBBXUserLoggingStores{nullptr};
std::atomic<BBXUserLoggingState*> gBBXUserLoggingState{nullptr};

SerialQueue& loggingQueue()
{
    static SerialQueue* queue = new SerialQueue("com.loomworks.blackbox.mac.logging");
    return *queue;
}

bool loggingReady()
{
    return gBBXUserLoggingStores.load() != nullptr && gBBXUserLoggingState.load() != nullptr;
}

void loggingWriteHexEntry(BBXFile* file, const char* key, const QByteArray& bytes, bool isNull)
{
    BBXFileWriteHashEntryHexEncodedString(file, key, isNull ? nullptr : bytes.constData());
}

// The text a value is stored as: its description, none for a null value or one without.
std::optional<QByteArray> loggingValueText(const QVariant& value)
{
    if (!value.isValid() || value.isNull() || !value.canConvert<QString>())
        return std::nullopt;
    return value.toString().toUtf8();
}

// Applies the "kv" lines of a file in order: a key set again moves to the end. In the
// incremental file a null value removes its key; in the compacted file it is a damaged pair.
// An unreadable file is removed.
void loggingMerge(const char* path, bool incremental, BBXKeyValuePairs& merged)
{
    const std::optional<ValueArray> lines = BBXFileReadSections(QString::fromUtf8(path), true);
    for (const Value& line : lines.value_or(ValueArray())) {
        const Value& kv = line.value(QStringLiteral("kv"));
        const Value& key = kv.value(QStringLiteral("key"));
        const Value& value = kv.value(QStringLiteral("value"));
        if (!key.isString() || !(value.isString() || (incremental && value.isNull()))) {
            if (incremental)
                BBX_LOG_ERROR("incremental key/value contains a nil and must be dropped");
            else
                BBX_LOG_ERROR("compacted key/value contains a nil and must be dropped");
            continue;
        }
        const QByteArray keyText = key.toString().toLatin1();
        for (auto it = merged.begin(); it != merged.end(); ++it) {
            if (it->first == keyText) {
                merged.erase(it);
                break;
            }
        }
        if (!value.isNull())
            merged.emplace_back(keyText, value.toString().toLatin1());
    }
}

} // namespace

void BBXUserLoggingInit(BBXUserLoggingStores* stores, BBXUserLoggingState* state)
{
    if (stores == nullptr || state == nullptr)
        return;
    state->currentLog.store(stores->log.pathA);
    state->currentErrors.store(stores->errors.pathA);
    state->currentCustomExceptions.store(stores->customExceptions.pathA);
    stores->userKV.compactionThreshold = 64;
    stores->internalKV.compactionThreshold = 64;
    state->errorCount.store(0);
    state->userKVCount.store(0);
    state->internalKVCount.store(0);
    gBBXUserLoggingState.store(state);
    gBBXUserLoggingStores.store(stores);
}

void BBXUserLoggingStop()
{
    loggingQueue().sync([] {});
    loggingQueue().sync([] {}); // what the first round queued
    gBBXUserLoggingStores.store(nullptr);
    gBBXUserLoggingState.store(nullptr);
}

const BBXUserLoggingStores* BBXUserLoggingInstalledStores()
{
    return gBBXUserLoggingStores.load();
}

BBXUserLoggingState* BBXUserLoggingInstalledState()
{
    return gBBXUserLoggingState.load();
}

void BBXUserLoggingSync(const std::function<void()>& block)
{
    loggingQueue().sync(block);
}

void BBXUserLoggingWriteAndCheckABFiles(const BBXUserLoggingABStorage* store,
                                        std::atomic<const char*>* current,
                                        const BBXUserLoggingWriteBlock& block)
{
    if (store == nullptr || current == nullptr || current->load() == nullptr || !block)
        return;
    if ((store->restrictedBySize ? store->maxSize : store->maxEntries) == 0)
        return;
    loggingQueue().sync([&] {
        BBXFile file;
        if (!BBXFileInitWithPath(&file, current->load(), true)) {
            BBX_LOG_WARN("Unable to open log file");
            return;
        }
        block(&file);
        std::uint64_t size = 0;
        BBXFileCloseWithOffset(&file, &size);
        if (!store->restrictedBySize && store->entryCounter != nullptr)
            store->entryCounter->fetch_add(1);
        // Checked before the queue is let go: writers already waiting for it would otherwise
        // add their records to a file that is full, past the pair's limit.
        BBXUserLoggingCheckAndSwapABFiles(store, current, size);
    });
}

void BBXUserLoggingCheckAndSwapABFiles(const BBXUserLoggingABStorage* store,
                                       std::atomic<const char*>* current, std::uint64_t fileSize)
{
    if (store == nullptr || current == nullptr)
        return;
    if (!store->restrictedBySize) {
        if (store->entryCounter == nullptr) {
            BBX_LOG_ERROR("Error: storage has invalid pointer, but is restricted by entry count");
            return;
        }
        if (store->entryCounter->load() < store->maxEntries)
            return;
        store->entryCounter->store(0);
    } else if (fileSize <= store->maxSize) {
        return;
    }
    const char* other = current->load() == store->pathA ? store->pathB : store->pathA;
    ::unlink(other);
    current->store(other);
}

void BBXLogRecordMessage(const QString& message)
{
    if (message.isNull())
        return;
    const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
    BBXUserLoggingState* state = BBXUserLoggingInstalledState();
    if (stores == nullptr || state == nullptr) {
        Log::warning(
            QStringLiteral("[Blackbox:Crash] WARNING: BBXLog has been used before (or concurrently with) "
                           "Blackbox initialization and cannot be recorded. The message was: \n%1")
                .arg(message));
        return;
    }
    QString text = message;
    const qsizetype limit = qsizetype(stores->logBufferSize);
    if (text.size() > limit) {
        Log::warning(
            QStringLiteral("WARNING: Attempted to write %1 bytes, but %2 is the maximum size of the log. "
                           "Truncating to %2 bytes.\n")
                .arg(text.size())
                .arg(limit));
        text.truncate(limit);
    }
    const QDateTime now = CalendarClock::now();
    if (!now.isValid())
        return;
    const QByteArray utf8 = text.toUtf8();
    const std::uint64_t milliseconds = static_cast<std::uint64_t>(now.toMSecsSinceEpoch());
    BBXUserLoggingWriteAndCheckABFiles(&stores->log, &state->currentLog, [&](BBXFile* file) {
        BBXFileWriteSectionStart(file, "log");
        BBXFileWriteHashStart(file);
        loggingWriteHexEntry(file, "msg", utf8, false);
        BBXFileWriteHashEntryUint64(file, "time", milliseconds);
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    });
}

void BBXUserLoggingRecordKeyValue(const QString& key, const QVariant& value,
                                  const BBXUserLoggingKVStorage* store, std::atomic<std::uint32_t>* counter)
{
    if (key.isNull()) {
        BBX_LOG_WARN("User provided bad key");
        return;
    }
    if (!loggingReady())
        return;
    loggingQueue().sync([&] { BBXUserLoggingWriteKeyValue(key, value, store, counter); });
}

void BBXUserLoggingRecordUserKeyValue(const QString& key, const QVariant& value)
{
    const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
    BBXUserLoggingState* state = BBXUserLoggingInstalledState();
    if (stores != nullptr && state != nullptr)
        BBXUserLoggingRecordKeyValue(key, value, &stores->userKV, &state->userKVCount);
}

void BBXUserLoggingRecordInternalKeyValue(const QString& key, const QVariant& value)
{
    const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
    BBXUserLoggingState* state = BBXUserLoggingInstalledState();
    if (stores != nullptr && state != nullptr)
        BBXUserLoggingRecordKeyValue(key, value, &stores->internalKV, &state->internalKVCount);
}

void BBXUserLoggingWriteInternalKeyValue(const QString& key, const QVariant& value)
{
    const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
    BBXUserLoggingState* state = BBXUserLoggingInstalledState();
    if (stores != nullptr && state != nullptr)
        BBXUserLoggingWriteKeyValue(key, value, &stores->internalKV, &state->internalKVCount);
}

void BBXUserLoggingWriteKeyValue(const QString& key, const QVariant& value,
                                 const BBXUserLoggingKVStorage* store, std::atomic<std::uint32_t>* counter)
{
    if (store == nullptr || counter == nullptr) {
        BBX_LOG_ERROR("Bad parameters");
        return;
    }
    BBXFile file;
    if (!BBXFileInitWithPath(&file, store->incrementalPath, true)) {
        BBX_LOG_ERROR("Unable to open k-v file");
        return;
    }
    const std::optional<QByteArray> text = loggingValueText(value);
    BBXFileWriteSectionStart(&file, "kv");
    BBXFileWriteHashStart(&file);
    loggingWriteHexEntry(&file, "key", key.toUtf8(), false);
    loggingWriteHexEntry(&file, "value", text.value_or(QByteArray()), !text.has_value());
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileClose(&file);
    if (counter->fetch_add(1) + 1 >= store->compactionThreshold) {
        loggingQueue().async([store, counter] {
            BBXUserLoggingCompactKVEntries(store);
            counter->store(0);
        });
    }
}

BBXKeyValuePairs BBXUserLoggingGetCompactedKVEntries(const BBXUserLoggingKVStorage* store, bool decode)
{
    if (store == nullptr) {
        BBX_LOG_ERROR("storage invalid");
        return {};
    }
    BBXKeyValuePairs merged;
    if (!loggingReady())
        return merged;
    loggingMerge(store->compactedPath, false, merged);
    loggingMerge(store->incrementalPath, true, merged);
    if (decode) {
        for (auto& [key, value] : merged) {
            key = BBXFileHexDecodeBytes(key);
            value = BBXFileHexDecodeBytes(value);
        }
    }
    return merged;
}

void BBXUserLoggingCompactKVEntries(const BBXUserLoggingKVStorage* store)
{
    if (store == nullptr) {
        BBX_LOG_ERROR("Error: storage invalid");
        return;
    }
    BBXKeyValuePairs pairs = BBXUserLoggingGetCompactedKVEntries(store, false);
    if (::unlink(store->compactedPath) != 0 && errno != ENOENT)
        BBX_LOG_WARN("Error: Unable to remove compacted KV store before compaction %s",
                     ::strerrordesc_np(errno));
    BBXFile file;
    if (!BBXFileInitWithPath(&file, store->compactedPath, true)) {
        BBX_LOG_WARN("Error: Unable to open compacted k-v file");
        return;
    }
    if (pairs.size() > store->maxEntries) {
        BBX_LOG_INFO("Truncating KV set, which is above max %d", static_cast<int>(store->maxEntries));
        // The keys written last are the ones kept.
        pairs.erase(pairs.begin(), pairs.end() - store->maxEntries);
    }
    for (const auto& [key, value] : pairs) {
        BBXFileWriteSectionStart(&file, "kv");
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryString(&file, "key", key.constData());
        BBXFileWriteHashEntryString(&file, "value", value.constData());
        BBXFileWriteHashEnd(&file);
        BBXFileWriteSectionEnd(&file);
    }
    BBXFileClose(&file);
    if (::unlink(store->incrementalPath) != 0 && errno != ENOENT)
        BBX_LOG_WARN("Error: Unable to remove incremental KV store after compaction %s",
                     ::strerrordesc_np(errno));
}

void BBXUserLoggingRecordError(const Error& error, const QVariantMap& additionalUserInfo)
{
    const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
    BBXUserLoggingState* state = BBXUserLoggingInstalledState();
    if (stores == nullptr || state == nullptr)
        return;
    void* addresses[128];
    const int count = ::backtrace(addresses, 128);
    const std::uint64_t seconds = static_cast<std::uint64_t>(CalendarClock::now().toSecsSinceEpoch());
    const QByteArray domain = error.domain().toUtf8();
    auto writeInfo = [](BBXFile* file, const char* key, const QVariantMap& info) {
        if (info.isEmpty())
            return;
        BBXFileWriteHashKey(file, key);
        BBXFileWriteArrayStart(file);
        for (auto it = info.cbegin(); it != info.cend(); ++it) {
            const std::optional<QByteArray> value = loggingValueText(it.value());
            if (it.key().isEmpty() || !value)
                continue;
            BBXFileWriteArrayStart(file);
            BBXFileWriteArrayEntryHexEncodedString(file, it.key().toUtf8().constData());
            BBXFileWriteArrayEntryHexEncodedString(file, value->constData());
            BBXFileWriteArrayEnd(file);
        }
        BBXFileWriteArrayEnd(file);
    };
    BBXUserLoggingWriteAndCheckABFiles(&stores->errors, &state->currentErrors, [&](BBXFile* file) {
        BBXFileWriteSectionStart(file, "error");
        BBXFileWriteHashStart(file);
        loggingWriteHexEntry(file, "domain", domain, false);
        BBXFileWriteHashEntryInt64(file, "code", error.code());
        BBXFileWriteHashEntryUint64(file, "time", seconds);
        BBXFileWriteHashKey(file, "stacktrace");
        BBXFileWriteArrayStart(file);
        for (int i = 0; i < count; ++i)
            BBXFileWriteArrayEntryUint64(file, reinterpret_cast<std::uint64_t>(addresses[i]));
        BBXFileWriteArrayEnd(file);
        writeInfo(file, "info", error.userInfo());
        writeInfo(file, "extra_info", additionalUserInfo);
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    });
}

} // namespace corvex
