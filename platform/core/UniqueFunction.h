#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace corvex {

template <class Signature> class UniqueFunction;

// A callable that owns what it captures and can only be moved: a queue's task can then carry
// a completion, which may be answered once and so must never be copied. Otherwise used as
// std::function is: empty when made from nothing or from an empty callable, and calling an
// empty one throws std::bad_function_call.
template <class R, class... Args> class UniqueFunction<R(Args...)>
{
public:
    UniqueFunction() noexcept = default;
    UniqueFunction(std::nullptr_t) noexcept {}

    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, UniqueFunction> &&
             std::is_invocable_r_v<R, std::decay_t<F>&, Args...>) UniqueFunction(F&& callable)
    {
        using Held = std::decay_t<F>;
        if constexpr (std::is_pointer_v<Held> || std::is_member_pointer_v<Held> ||
                      requires(const Held& held) { static_cast<bool>(held); }) {
            if (!static_cast<bool>(callable))
                return;
        }
        mCallable = std::make_unique<Model<Held>>(std::forward<F>(callable));
    }

    UniqueFunction(UniqueFunction&&) noexcept = default;
    UniqueFunction& operator=(UniqueFunction&&) noexcept = default;
    UniqueFunction(const UniqueFunction&) = delete;
    UniqueFunction& operator=(const UniqueFunction&) = delete;

    explicit operator bool() const noexcept { return mCallable != nullptr; }
    friend bool operator==(const UniqueFunction& function, std::nullptr_t) noexcept { return !function; }

    // Const as std::function's is: calling does not change which callable is held.
    R operator()(Args... args) const
    {
        if (!mCallable)
            throw std::bad_function_call();
        return mCallable->call(std::forward<Args>(args)...);
    }

private:
    struct Concept
    {
        virtual ~Concept() = default;
        virtual R call(Args&&... args) = 0;
    };

    template <class F> struct Model final : Concept
    {
        template <class G> explicit Model(G&& callable) : mHeld(std::forward<G>(callable)) {}
        R call(Args&&... args) override { return std::invoke(mHeld, std::forward<Args>(args)...); }
        F mHeld;
    };

    std::unique_ptr<Concept> mCallable;
};

} // namespace corvex
