// Event handlers: a callable bound to its object. A handler is "set" when its callable is not
// empty and two handlers are the same when their callables are, whatever objects they are bound
// to. std::function offers neither comparison, hence this small value type.
#pragma once

#include <cstring>
#include <type_traits>

template <class Sig> class TJvMethod;

template <class R, class... Args> class TJvMethod<R(Args...)> {
public:
    using PlainFunction = R (*)(void* Context, Args...);

    TJvMethod() noexcept { std::memset(FCode, 0, sizeof FCode); }

    template <class Obj> TJvMethod(Obj* Object, R (Obj::*Method)(Args...)) noexcept : TJvMethod() {
        Store(Object, Method, &InvokeMember<Obj, R (Obj::*)(Args...)>);
    }

    template <class Obj>
    TJvMethod(const Obj* Object, R (Obj::*Method)(Args...) const) noexcept : TJvMethod() {
        Store(const_cast<Obj*>(Object), Method,
              &InvokeMember<const Obj, R (Obj::*)(Args...) const>);
    }

    TJvMethod(PlainFunction Function, void* Context) noexcept : TJvMethod() {
        Store(Context, Function, &InvokePlain);
    }

    explicit operator bool() const noexcept { return FInvoke != nullptr; }

    R operator()(Args... args) const { return FInvoke(*this, static_cast<Args>(args)...); }

    // The object the callable is bound to (the context of a plain function).
    void* Data() const noexcept { return FData; }

    friend bool SameCallable(const TJvMethod& A, const TJvMethod& B) noexcept {
        return A.FInvoke == B.FInvoke && std::memcmp(A.FCode, B.FCode, sizeof A.FCode) == 0;
    }

private:
    using Invoker = R (*)(const TJvMethod&, Args...);

    template <class Code> void Store(void* Object, Code Callable, Invoker Invoke) noexcept {
        static_assert(sizeof(Code) <= sizeof(FCode), "callable too large for TJvMethod");
        static_assert(std::is_trivially_copyable_v<Code>);
        if (!Callable) return; // an empty callable makes an empty handler
        std::memcpy(FCode, &Callable, sizeof Callable);
        FData = Object;
        FInvoke = Invoke;
    }

    template <class Code> Code Load() const noexcept {
        Code c;
        std::memcpy(&c, FCode, sizeof c);
        return c;
    }

    template <class Obj, class Code> static R InvokeMember(const TJvMethod& M, Args... args) {
        return (static_cast<Obj*>(M.FData)->*M.Load<Code>())(static_cast<Args>(args)...);
    }

    static R InvokePlain(const TJvMethod& M, Args... args) {
        return M.Load<PlainFunction>()(M.FData, static_cast<Args>(args)...);
    }

    alignas(void*) unsigned char FCode[2 * sizeof(void*)];
    void* FData = nullptr;
    Invoker FInvoke = nullptr;
};
