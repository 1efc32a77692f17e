#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace corvex {

// One version of one synchronised file: the local file holding it (no folder part) and the
// Dropbox revision it corresponds to, either possibly absent. Immutable and shared. With
// neither, it equals EMPTY(); with a revision and no name it stands for a deletion at that
// revision.
class QVFileInfo
{
public:
    using Ref = std::shared_ptr<const QVFileInfo>;

    QVFileInfo(std::optional<QString> name, std::optional<QString> rev);
    static Ref make(std::optional<QString> name, std::optional<QString> rev);
    // The one shared marker with neither name nor revision.
    static const Ref& EMPTY();

    const std::optional<QString>& name() const { return mName; }
    const std::optional<QString>& rev() const { return mRev; }

    bool isEmpty() const;
    Ref withRev(std::optional<QString> rev) const;
    bool isEqual(const QVFileInfo& other) const;
    std::size_t hash() const;
    QString description() const;

    static bool emptyOrNull(const Ref& info);
    static bool isEmpty(const Ref& info);
    static bool isDeleted(const Ref& info);
    static bool hasFile(const Ref& info);
    static const Ref& firstNonNull(const Ref& a, const Ref& b);
    static bool refers(const Ref& info, const QString& fileName);
    static bool areEqual(const Ref& a, const Ref& b);
    static bool areRevEqual(const Ref& a, const Ref& b);

private:
    std::optional<QString> mName;
    std::optional<QString> mRev;
};

} // namespace corvex
