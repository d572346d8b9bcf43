// Symbol visibility of the library's public API. The library is built with hidden
// symbols; only what carries QUILLMERE_EXPORT is visible outside it. A Windows DLL build
// defines QUILLMERE_SHARED for its users and QUILLMERE_BUILDING for itself.
#pragma once

#if defined(_WIN32)
#if defined(QUILLMERE_SHARED) && defined(QUILLMERE_BUILDING)
#define QUILLMERE_EXPORT __declspec(dllexport)
#elif defined(QUILLMERE_SHARED)
#define QUILLMERE_EXPORT __declspec(dllimport)
#else
#define QUILLMERE_EXPORT
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define QUILLMERE_EXPORT __attribute__((visibility("default")))
#else
#define QUILLMERE_EXPORT
#endif
