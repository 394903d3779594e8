// ORMELIX_SANITIZED is defined in a build under AddressSanitizer or ThreadSanitizer (GCC or
// clang): their shadow memory does not fit an address-space limit.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORMELIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORMELIX_SANITIZED 1
#endif
#endif
