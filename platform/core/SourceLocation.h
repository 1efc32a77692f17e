#pragma once

namespace corvex {

// Where in the source something was made: the place a default argument of
// `SourceLocation::current()` is used at. Stands where std::source_location would, which
// the sanitizer tree's compiler does not give with this standard library.
class SourceLocation
{
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) noexcept
    {
        return SourceLocation(file, line, function);
    }

    constexpr SourceLocation() noexcept = default;

    constexpr const char* file_name() const noexcept { return mFile; }
    constexpr unsigned line() const noexcept { return mLine; }
    constexpr const char* function_name() const noexcept { return mFunction; }

private:
    constexpr SourceLocation(const char* file, unsigned line, const char* function) noexcept
        : mFile(file), mLine(line), mFunction(function)
    {}

    const char* mFile = "";
    unsigned mLine = 0;
    const char* mFunction = "";
};

} // namespace corvex
