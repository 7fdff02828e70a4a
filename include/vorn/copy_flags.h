// The copy's flag word: the destination format in the low four bits, the
// copy flags, and the scaling modes in bits 28-30. Shared by the engine's
// callers, the display buffer (whose flags carry the format) and the tools.
#pragma once
#include <cstdint>

// ---- Destination formats (low four bits of the copy flags) -------------------
inline constexpr uint32_t COPY_NONE = 0;
inline constexpr uint32_t COPY_BGR24 = 1;     // B, G, R
inline constexpr uint32_t COPY_RGB24 = 2;     // R, G, B
inline constexpr uint32_t COPY_BGRX32 = 3;    // B, G, R, 0
inline constexpr uint32_t COPY_RGBX32 = 4;    // R, G, B, 0
inline constexpr uint32_t COPY_BGRA32 = 5;    // B, G, R, alpha (3 without an alpha plane)
inline constexpr uint32_t COPY_RGBA32 = 6;    // R, G, B, alpha (4 without an alpha plane)
inline constexpr uint32_t COPY_ARGB4444 = 7;  // A 12-15, R 8-11, G 4-7, B 0-3
inline constexpr uint32_t COPY_ARGB1555 = 8;  // A 15, R 10-14, G 5-9, B 0-4
inline constexpr uint32_t COPY_RGB555 = 9;    // R 10-14, G 5-9, B 0-4
inline constexpr uint32_t COPY_RGB565 = 10;   // R 11-15, G 5-10, B 0-4
inline constexpr uint32_t COPY_RGB655 = 11;   // R 10-15, G 5-9, B 0-4
inline constexpr uint32_t COPY_RGB664 = 12;   // R 10-15, G 4-9, B 0-3
inline constexpr uint32_t COPY_YUY2 = 13;     // Y0, U, Y1, V per pixel pair
inline constexpr uint32_t COPY_UYVY = 14;     // U, Y0, V, Y1 per pixel pair
inline constexpr uint32_t COPY_YV12 = 15;     // planar: Y plane, then V, then U
inline constexpr uint32_t COPY_FORMAT_COUNT = 16;

// ---- Copy flags ----------------------------------------------------------------
inline constexpr uint32_t COPY_FORMAT_MASK = 0x0000000F;
inline constexpr uint32_t COPY_UV_ORDER = 0x10000;   // stored chroma planes are U first, then V
inline constexpr uint32_t COPY_GRAYSCALE = 0x20000;  // luma only, chroma neutral
inline constexpr uint32_t COPY_NO_MMX = 0x40000;     // plain converters, no vector paths
inline constexpr uint32_t COPY_NO_SKIP = 0x80000;    // never skip the copy when late
inline constexpr uint32_t COPY_SCALE_MASK = 0x70000000;
inline constexpr uint32_t COPY_SCALE_SHIFT = 28;
inline constexpr uint32_t COPY_ALL = 0x80000000u;  // whole rectangle, ignoring the block map
// The bits of the movie's own flags that the copy takes over.
inline constexpr uint32_t COPY_MOVIE_FLAG_MASK = 0x70030000;

// ---- Scaling modes (bits 28-30) ------------------------------------------------
inline constexpr uint32_t SCALE_NONE = 0;
inline constexpr uint32_t SCALE_H2_DOUBLED = 1;     // each row to two consecutive lines
inline constexpr uint32_t SCALE_H2_INTERLACED = 2;  // each row to every second line
inline constexpr uint32_t SCALE_W2 = 3;             // each pixel twice
inline constexpr uint32_t SCALE_W2_H2_DOUBLED = 4;
inline constexpr uint32_t SCALE_W2_H2_INTERLACED = 5;
inline constexpr uint32_t SCALE_H1_INTERLACED = 6;  // every second row to every second line
inline constexpr uint32_t SCALE_FORCE_NONE = 7;
