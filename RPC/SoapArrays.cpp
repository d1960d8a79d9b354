// The two SOAP-encoded array types of the service contract. Elements are
// owned by the runtime context when one is set (released with it), else by
// the array itself.
#include "soapH.h"

#include <cstdio>
#include <cstdlib>

// Indexing outside the array is a programming error: stop with an assertion
// message, also in builds that define NDEBUG.
[[noreturn]] static void indexAssertionFailed(const char* condition, const char* file, int line,
                                              const char* function)
{
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function, condition);
    fflush(stderr);
    abort();
}

#define ORIX_CHECK_INDEX(cond)                                                                     \
    ((cond) ? static_cast<void>(0)                                                                 \
            : indexAssertionFailed(#cond, __FILE__, __LINE__, __PRETTY_FUNCTION__))

arrayOfData::arrayOfData() : __ptr(nullptr), __size(0), soap(nullptr) {}

arrayOfData::arrayOfData(struct soap* s, int n) : __ptr(nullptr), __size(0), soap(s)
{
    resize(n);
}

arrayOfData::~arrayOfData()
{
    resize(0);
}

void arrayOfData::resize(int n)
{
    if (__ptr) {
        if (soap)
            soap_delete(soap, __ptr);
        else
            delete[] __ptr;
    }
    __ptr = nullptr;
    __size = 0;
    if (n <= 0)
        return;
    __ptr = soap ? soap_new_ns__Data(soap, n) : new ns__Data[n];
    if (!__ptr)
        return;
    for (int i = 0; i < n; ++i)
        soap_default_ns__Data(soap, &__ptr[i]);
    __size = n;
}

ns__Data& arrayOfData::operator[](int i) const
{
    ORIX_CHECK_INDEX(__ptr && i >= 0 && i < __size);
    return __ptr[i];
}

int arrayOfData::size() const
{
    return __size;
}

arrayOfName::arrayOfName() : __ptr(nullptr), __size(0), soap(nullptr) {}

arrayOfName::arrayOfName(struct soap* s, int n) : __ptr(nullptr), __size(0), soap(s)
{
    resize(n);
}

arrayOfName::~arrayOfName()
{
    resize(0);
}

void arrayOfName::resize(int n)
{
    if (__ptr) {
        if (soap)
            soap_dealloc(soap, __ptr);
        else
            free(__ptr);
    }
    __ptr = nullptr;
    __size = 0;
    if (n <= 0)
        return;
    const size_t bytes = sizeof(char*) * static_cast<size_t>(n);
    __ptr = static_cast<char**>(soap ? soap_malloc(soap, bytes) : malloc(bytes));
    if (!__ptr)
        return;
    for (int i = 0; i < n; ++i)
        __ptr[i] = nullptr;
    __size = n;
}

char*& arrayOfName::operator[](int i) const
{
    ORIX_CHECK_INDEX(__ptr && i >= 0 && i < __size);
    return __ptr[i];
}

int arrayOfName::size() const
{
    return __size;
}
