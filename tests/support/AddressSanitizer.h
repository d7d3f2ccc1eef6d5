#pragma once

// Whether this build runs under AddressSanitizer, whose quarantine keeps
// freed blocks, so that resident memory says nothing about growth. GCC says
// so with __SANITIZE_ADDRESS__, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TK_ADDRESS_SANITIZER 1
#endif
#endif
