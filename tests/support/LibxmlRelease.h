#pragma once
// Where the two libxml2 releases the tests run on report differently: 2.9.14 (Debian 12 and 13)
// and 2.15.4 (scripts/libxml2-newest). Each expectation says what each gives.

#include <libxml/xmlversion.h>

constexpr bool kLibxml215 = LIBXML_VERSION >= 21500;

template <class T>
constexpr T ByRelease(T in2_9, T in2_15) {
    return kLibxml215 ? in2_15 : in2_9;
}
