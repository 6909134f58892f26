// Root of every library class, with run-time class information by class name
// rather than by the language's type information: each named class overrides
// GetClassName, IsKindOf and DynamicCast through HVB_DECLARE_CLASS.
#pragma once

#include <cstdint>

// The Windows headers define GetClassName as a macro, which would rename the
// method below. Files that need them include them before library headers.
#ifdef GetClassName
#undef GetClassName
#endif

// Byte-wise, case-sensitive comparison of class names; null compares like "".
int CompareClassName(const char* a, const char* b);

class HVBObject {
public:
    static constexpr char kClassName[] = "HVBObject";

    HVBObject() = default;
    virtual ~HVBObject() = default;

    virtual const char* GetClassName() const { return kClassName; }
    virtual int IsKindOf(const char* name) const { return CompareClassName(name, kClassName) == 0 ? 1 : 0; }
    virtual void* DynamicCast(const char* name) { return HVBObject::IsKindOf(name) ? this : nullptr; }

    bool IsSameClass(const HVBObject& other) const {
        return CompareClassName(GetClassName(), other.GetClassName()) == 0;
    }
};

// Inside the body of a named class with one direct base.
#define HVB_DECLARE_CLASS(Class, Base)                                                              \
public:                                                                                            \
    static constexpr char kClassName[] = #Class;                                                   \
    const char* GetClassName() const override { return kClassName; }                               \
    int IsKindOf(const char* name) const override {                                                \
        return CompareClassName(name, kClassName) == 0 ? 1 : Base::IsKindOf(name);                 \
    }                                                                                              \
    void* DynamicCast(const char* name) override {                                                 \
        return CompareClassName(name, kClassName) == 0 ? static_cast<void*>(this) : Base::DynamicCast(name); \
    }

// Inside the body of a named class with two direct bases; a name the first
// base does not know is looked up on the second-base sub-object.
#define HVB_DECLARE_CLASS2(Class, Base1, Base2)                                                     \
public:                                                                                            \
    static constexpr char kClassName[] = #Class;                                                   \
    const char* GetClassName() const override { return kClassName; }                               \
    int IsKindOf(const char* name) const override {                                                \
        if (CompareClassName(name, kClassName) == 0) return 1;                                     \
        return Base1::IsKindOf(name) ? 1 : Base2::IsKindOf(name);                                  \
    }                                                                                              \
    void* DynamicCast(const char* name) override {                                                 \
        if (CompareClassName(name, kClassName) == 0) return static_cast<void*>(this);              \
        if (Base1::IsKindOf(name)) return Base1::DynamicCast(name);                                \
        if (Base2::IsKindOf(name)) return Base2::DynamicCast(name);                                \
        return nullptr;                                                                            \
    }
