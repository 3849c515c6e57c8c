// Checks of the string buffers' own rules. A failure is a programming error in the caller, so
// these are assertions in the language's sense: active unless NDEBUG is defined, reporting the
// condition's text and aborting.
#pragma once

#include <cassert>

#ifdef NDEBUG
#define TEXT_ASSERT(cond, text) static_cast<void>(0)
#else
#define TEXT_ASSERT(cond, text) \
    ((cond) ? static_cast<void>(0) : __assert_fail(text, __FILE__, __LINE__, __func__))
#endif
