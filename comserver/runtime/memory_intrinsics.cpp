// What the compiler may call on its own in a module without a C runtime, at
// any optimisation level: memset, memcpy, memmove and memcmp, which every
// freestanding environment must provide (zeroed arrays, structure copies),
// and the handler behind the pure virtual slots of an abstract class's
// table, which is emitted when constructors are not inlined.  Plain loops:
// the module is compiled with -fno-tree-loop-distribute-patterns, so they do
// not turn back into calls of themselves.
#include <stddef.h>

extern "C" {

void* memset(void* dest, int value, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(dest);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<unsigned char>(value);
    return dest;
}

void* memcpy(void* dest, const void* src, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(dest);
    const unsigned char* in = static_cast<const unsigned char*>(src);
    for (size_t i = 0; i < count; ++i)
        out[i] = in[i];
    return dest;
}

void* memmove(void* dest, const void* src, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(dest);
    const unsigned char* in = static_cast<const unsigned char*>(src);
    if (out < in) {
        for (size_t i = 0; i < count; ++i)
            out[i] = in[i];
    } else {
        for (size_t i = count; i-- > 0;)
            out[i] = in[i];
    }
    return dest;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* left = static_cast<const unsigned char*>(a);
    const unsigned char* right = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

// A pure virtual function can only be reached through an object whose
// construction or destruction is under way, which no code here does.
void __cxa_pure_virtual()
{
    __builtin_trap();
}

}  // extern "C"
