#pragma once

#include "platform/core/Error.h"

#include <optional>
#include <utility>

namespace corvex {

// The one result type of the code base: a value or an Error. Callers test ok() (or the
// bool conversion) before value(); error() of a success is a null Error.
template <class T> class [[nodiscard]] Result
{
public:
    Result(T value) : mValue(std::move(value)) {}
    Result(Error error) : mError(std::move(error))
    {
        if (mError.isNull())
            mError = Error(QStringLiteral("com.tallowfen.corvex"), -1, QStringLiteral("Unknown failure"));
    }

    bool ok() const { return mValue.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return *mValue; }
    T& value() & { return *mValue; }
    T&& value() && { return std::move(*mValue); }
    const T* operator->() const { return &*mValue; }
    const T& operator*() const { return *mValue; }
    T valueOr(T fallback) const { return mValue ? *mValue : std::move(fallback); }

    const Error& error() const { return mError; }

    // A success holding exactly `value`.
    friend bool operator==(const Result& result, const T& value)
    {
        return result.ok() && *result.mValue == value;
    }

private:
    std::optional<T> mValue;
    Error mError;
};

// The outcome of an operation that produces nothing.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Error error) : mError(std::move(error)) {}
    static Status success() { return Status(); }

    bool ok() const { return mError.isNull(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return mError; }

private:
    Error mError;
};

} // namespace corvex
