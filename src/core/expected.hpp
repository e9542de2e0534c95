// A minimal result type: either a value or an error value, never both.
#pragma once

#include <utility>
#include <variant>

namespace verrakin {

/// Success marker for operations that produce no value.
struct Ok {};

/// Wraps an error so that Expected<T, E> can be built from it unambiguously.
template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Expected(Unexpected<F> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& value() const& { return std::get<0>(state_); }
    E& error() & { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

}  // namespace verrakin

// Propagates the error of an Expected expression out of the enclosing function.
#define VK_TRY(expr)                                                   \
    do {                                                               \
        auto&& vk_try_result = (expr);                                 \
        if (!vk_try_result) return ::verrakin::unexpected(std::move(vk_try_result).error()); \
    } while (0)
// Assigns the value of an Expected expression to an already declared `lhs`, or
// propagates its error. The temporary lives in its own block, so that the
// temporaries of successive steps share stack space: frames stay small where
// calls back into Python recurse through them.
#define VK_TRY_ASSIGN(lhs, expr)                                       \
    do {                                                               \
        auto vk_try_result = (expr);                                   \
        if (!vk_try_result) return ::verrakin::unexpected(std::move(vk_try_result).error()); \
        lhs = std::move(vk_try_result).value();                        \
    } while (0)
