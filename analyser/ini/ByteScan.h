// Finding marker bytes in short stretches of text. Lines are a few dozen bytes
// long, so a library call per search costs more than the search itself; these
// run inline, sixteen bytes at a time where SSE2 is there.
#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ketch::scan {

// The first byte equal to a in [p, end), or nullptr.
inline const char* Find(const char* p, const char* end, char a) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int m = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, va))) return p + __builtin_ctz(m);
  }
#endif
  for (; p < end; ++p)
    if (*p == a) return p;
  return nullptr;
}

// The first byte equal to a or b in [p, end), or nullptr.
inline const char* FindEither(const char* p, const char* end, char a, char b) {
#if defined(__SSE2__)
  if (end - p >= 16) {
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
    auto hits = [&](const char* at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)));
    };
    for (; end - p >= 16; p += 16)
      if (const int m = hits(p)) return p + __builtin_ctz(m);
    // The last sixteen bytes overlap ones already found clean, so a hit is new.
    if (p == end) return nullptr;
    const int m = hits(end - 16);
    return m ? end - 16 + __builtin_ctz(m) : nullptr;
  }
#endif
  for (; p < end; ++p)
    if (*p == a || *p == b) return p;
  return nullptr;
}

}  // namespace ketch::scan
