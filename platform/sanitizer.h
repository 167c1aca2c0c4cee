// Whether this is a sanitizer build, for the few places that must behave
// differently under AddressSanitizer (its allocator, its memory reservations,
// its leak check at exit).
#pragma once

namespace kestrel {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

}  // namespace kestrel
