#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace corvex {

// The content-derived name of an attachment: "<dash>.<extension>", where the dash is the 40
// lower-case hex digits of the SHA-1 of the attachment's bytes followed by the extension's
// UTF-8 bytes. The string form is the attachment's file name and what an idea stores under
// "att".
//
// A small immutable value, passed and stored by value (copies share the one string). The
// default-made ObjectID is null: "no attachment". Constructors are explicit, so an ObjectID
// is never compared with or mistaken for a plain string.
class ObjectID
{
public:
    ObjectID() = default;
    // Either part may be empty; only a default-made ObjectID is null.
    explicit ObjectID(const QString& dash, const QString& extension);

    static ObjectID initWithDash(const QString& dash, const QString& extension)
    {
        return ObjectID(dash, extension);
    }
    // The identifier of attachment bytes with their file extension ("png" for pictures).
    static ObjectID createFromData(const QByteArray& data, const QString& extension);
    // Splits at each "."; the first component is the dash, the second the extension, further
    // components are dropped. A text without a second component (no "."), or with an empty
    // dash or extension, names no attachment and answers the null ObjectID: stored data then
    // reads as an idea without attachment instead of a name such as "dash.(null)".
    static ObjectID parseFromString(const QString& text);

    bool isNull() const { return mStr.isNull(); }
    QString dash() const;
    QString extension() const;
    // "<dash>.<extension>"; null for the null ObjectID.
    const QString& asString() const { return mStr; }
    QString description() const { return mStr; }

    // Equal string forms; two null ObjectIDs are equal.
    bool isEqualToObjectID(const ObjectID& other) const
    {
        return mStr == other.mStr && isNull() == other.isNull();
    }
    friend bool operator==(const ObjectID& a, const ObjectID& b) { return a.isEqualToObjectID(b); }
    friend bool operator!=(const ObjectID& a, const ObjectID& b) { return !a.isEqualToObjectID(b); }

    // The hash of the dash alone.
    size_t hash(size_t seed = 0) const;

private:
    // The one string and where the dash ends keep an idea's attachment field small.
    QString mStr;
    qsizetype mDashLength = 0;
};

inline size_t qHash(const ObjectID& id, size_t seed = 0) noexcept
{
    return id.hash(seed);
}

} // namespace corvex

template <> struct std::hash<corvex::ObjectID>
{
    size_t operator()(const corvex::ObjectID& id) const noexcept { return id.hash(); }
};
