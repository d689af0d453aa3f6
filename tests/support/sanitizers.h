#pragma once

// Whether this build runs under AddressSanitizer, where memory is laid out and counted
// differently: blocks carry redzones, freed memory is held back, and a cap on the address
// space leaves no room for the shadow memory.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif
