#pragma once

// Ordinary code, run on the logging queue: what the application tells the crash reporter
// besides crashes, kept in the current report's folder in bounded record files. Logs, errors
// and custom exceptions rotate between two files A and B; key-value pairs are appended to an
// incremental file and compacted into one file of unique keys every 64 writes. Nothing is
// recorded before the crash context is initialized.

#include "crash/capture/BBXUserLoggingStores.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace corvex {

class Error;
struct BBXFile;

// The current files to A, thresholds to 64, counters to 0. The stores and state must live as
// long as the process (the crash context's regions).
void BBXUserLoggingInit(BBXUserLoggingStores* stores, BBXUserLoggingState* state);
// Stops using them (tests); waits for the queued work first.
void BBXUserLoggingStop();

using BBXUserLoggingWriteBlock = std::function<void(BBXFile* file)>;
// One record through `block` into the current file, then the rotation check behind it.
void BBXUserLoggingWriteAndCheckABFiles(const BBXUserLoggingABStorage* store,
                                        std::atomic<const char*>* current,
                                        const BBXUserLoggingWriteBlock& block);
void BBXUserLoggingCheckAndSwapABFiles(const BBXUserLoggingABStorage* store,
                                       std::atomic<const char*>* current, std::uint64_t fileSize);

// A custom log message; longer than the log buffer: cut to it, with a warning.
void BBXLogRecordMessage(const QString& message);

// A null key is refused; a null value removes the key.
void BBXUserLoggingRecordKeyValue(const QString& key, const QVariant& value,
                                  const BBXUserLoggingKVStorage* store, std::atomic<std::uint32_t>* counter);
void BBXUserLoggingRecordUserKeyValue(const QString& key, const QVariant& value);
void BBXUserLoggingRecordInternalKeyValue(const QString& key, const QVariant& value);
// The internal store's write on the calling thread (the controller's own queue).
void BBXUserLoggingWriteInternalKeyValue(const QString& key, const QVariant& value);
void BBXUserLoggingWriteKeyValue(const QString& key, const QVariant& value,
                                 const BBXUserLoggingKVStorage* store, std::atomic<std::uint32_t>* counter);

// The merged pairs, oldest write first (a key written again moves to the end); hex texts
// unless `decode`.
using BBXKeyValuePairs = std::vector<std::pair<QByteArray, QByteArray>>;
BBXKeyValuePairs BBXUserLoggingGetCompactedKVEntries(const BBXUserLoggingKVStorage* store, bool decode);
// Rewrites the compacted file with one line per key, the keys written last when there are
// more than the store keeps, and removes the incremental file.
void BBXUserLoggingCompactKVEntries(const BBXUserLoggingKVStorage* store);

// A non-fatal error with the recording thread's return addresses.
void BBXUserLoggingRecordError(const Error& error, const QVariantMap& additionalUserInfo);

// The stores the crash context set up, or none.
const BBXUserLoggingStores* BBXUserLoggingInstalledStores();
BBXUserLoggingState* BBXUserLoggingInstalledState();
// Runs `block` on the logging queue and waits (tests and the exception recorder).
void BBXUserLoggingSync(const std::function<void()>& block);

} // namespace corvex
