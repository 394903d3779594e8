// Handlers: bound calls, "set" test, and comparison by the callable alone.
#include "hid/JvMethod.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Counter {
    int Value = 0;
    int Add(int N) { return Value += N; }
    int Sub(int N) { return Value -= N; }
    int Peek(int N) const { return Value + N; }
};

struct Base {
    virtual ~Base() = default;
    virtual int Twice(int N) { return 2 * N; }
};
struct Derived : Base {
    int Twice(int N) override { return 20 * N; }
};

int Plain(void* Context, int N) {
    return static_cast<Counter*>(Context)->Value * N;
}
int OtherPlain(void*, int N) {
    return N;
}

using IntMethod = TJvMethod<int(int)>;

TEST(JvMethod, EmptyUntilBoundToACallable) {
    IntMethod empty;
    EXPECT_FALSE(empty);
    int (Counter::*none)(int) = nullptr;
    Counter c;
    EXPECT_FALSE(IntMethod(&c, none));
    EXPECT_FALSE(IntMethod(static_cast<IntMethod::PlainFunction>(nullptr), &c));
    EXPECT_TRUE(IntMethod(&c, &Counter::Add));
}

TEST(JvMethod, CallsTheBoundObject) {
    Counter a, b;
    IntMethod addA(&a, &Counter::Add);
    IntMethod addB(&b, &Counter::Add);
    addA(3);
    addB(5);
    addA(4);
    EXPECT_EQ(a.Value, 7);
    EXPECT_EQ(b.Value, 5);
    EXPECT_EQ(addA.Data(), &a);
    EXPECT_EQ(IntMethod(&a, &Counter::Peek)(1), 8);
    a.Value = 6;
    EXPECT_EQ(IntMethod(&Plain, &a)(2), 12);
}

TEST(JvMethod, VirtualMembersDispatchOnTheObject) {
    Derived d;
    Base* asBase = &d;
    EXPECT_EQ(TJvMethod<int(int)>(asBase, &Base::Twice)(2), 40);
}

TEST(JvMethod, SameCallableComparesTheCallableNotTheObject) {
    Counter a, b;
    struct Case {
        IntMethod X, Y;
        bool Same;
        const char* What;
    };
    const Case cases[] = {
        {IntMethod(), IntMethod(), true, "two empty"},
        {IntMethod(&a, &Counter::Add), IntMethod(&b, &Counter::Add), true, "objects differ"},
        {IntMethod(&a, &Counter::Add), IntMethod(&a, &Counter::Sub), false, "methods differ"},
        {IntMethod(&a, &Counter::Add), IntMethod(), false, "set vs empty"},
        {IntMethod(&Plain, &a), IntMethod(&Plain, &b), true, "plain, contexts differ"},
        {IntMethod(&Plain, &a), IntMethod(&OtherPlain, &a), false, "plain functions differ"},
        {IntMethod(&a, &Counter::Peek), IntMethod(&b, &Counter::Peek), true, "const member"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameCallable(c.X, c.Y), c.Same) << c.What;
        EXPECT_EQ(SameCallable(c.Y, c.X), c.Same) << c.What;
    }
}

TEST(JvMethod, CopiesKeepBindingAndIdentity) {
    Counter a;
    IntMethod m(&a, &Counter::Add);
    IntMethod copy = m;
    copy(9);
    EXPECT_EQ(a.Value, 9);
    EXPECT_TRUE(SameCallable(m, copy));
    copy = IntMethod();
    EXPECT_FALSE(copy);
    EXPECT_TRUE(m);
}

} // namespace
