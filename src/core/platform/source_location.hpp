// Where a fatal error was raised: std::source_location where the standard
// library provides it, else the same from the compiler's builtins (Clang 14
// with libstdc++ 12 ships the header, but without the builtin it rests on).
#pragma once

#if __has_include(<source_location>)
#include <source_location>
#endif

#include <cstdint>

namespace verrakin {

#if defined(__cpp_lib_source_location)

using SourceLocation = std::source_location;

#else

class SourceLocation {
public:
    /// The caller's position: the builtins in default arguments are evaluated
    /// where current() itself is called, as a default argument in turn.
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            const char* function = __builtin_FUNCTION(),
                                            std::uint_least32_t line = __builtin_LINE(),
                                            std::uint_least32_t column = __builtin_COLUMN()) noexcept {
        SourceLocation where;
        where.file_ = file;
        where.function_ = function;
        where.line_ = line;
        where.column_ = column;
        return where;
    }

    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }
    constexpr std::uint_least32_t column() const noexcept { return column_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    std::uint_least32_t line_ = 0;
    std::uint_least32_t column_ = 0;
};

#endif

}  // namespace verrakin
