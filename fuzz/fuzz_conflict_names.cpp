// The recogniser of sync tools' conflict copies and temporary files (SyncFileNames) on
// arbitrary names, read as UTF-8. Whatever it answers must hold together: a conflict copy
// names a plain file other than itself, is never listable, and its original is no
// conflict copy of the same tool's form again unless the name nests one; a listable name
// is plain, not hidden, not temporary. The "like" matcher of the metadata query runs on the
// same name with a pattern taken from its first bytes and must answer "*" as a match.

#include "cloud/container/CloudMetadataQuery.h"
#include "cloud/container/SyncFileNames.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void conflictNamesFail(const char* what, const QString& name)
{
    std::fprintf(stderr, "fuzz_conflict_names: %s: %s\n", what, name.left(300).toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using corvex::CloudMetadataQuery;
    using corvex::SyncFileNames;
    if (size > 4096)
        return 0;
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto copy = SyncFileNames::parseConflictCopy(name);
    const bool listable = SyncFileNames::isListable(name);
    if (copy) {
        if (!SyncFileNames::isPlainFileName(name))
            conflictNamesFail("a conflict copy that is no plain name", name);
        if (!SyncFileNames::isPlainFileName(copy->original) || copy->original == name)
            conflictNamesFail("a conflict copy of no plain file or of itself", name);
        if (copy->original.size() >= name.size())
            conflictNamesFail("a conflict copy no longer than its original", name);
        if (listable)
            conflictNamesFail("a conflict copy is listable", name);
    }
    if (listable && (SyncFileNames::isHidden(name) || SyncFileNames::isTemporary(name) ||
                     !SyncFileNames::isPlainFileName(name)))
        conflictNamesFail("a listable name that is hidden, temporary or not plain", name);

    if (!CloudMetadataQuery::nameIsLike(name, QStringLiteral("*")))
        conflictNamesFail("\"*\" does not match", name);
    if (!CloudMetadataQuery::nameIsLike(
            name,
            name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?')) ? QStringLiteral("*") : name))
        conflictNamesFail("a name is not like itself", name);
    (void)CloudMetadataQuery::nameIsLike(name, name.left(8));
    return 0;
}
