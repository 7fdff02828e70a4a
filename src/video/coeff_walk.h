// The bit-plane walk shared by coefficient and residue coding. The decoder
// instantiates it with a source that reads bits; the writer with one that
// decides and writes them, so both sides always agree on the list order.
//
// A source provides:
//   bool EntryBit(uint32_t k, uint32_t mode, uint32_t plane)  group still has something
//   bool BelowBit(uint32_t index, uint32_t plane)             coefficient is below the plane
//   bool Value(uint32_t index, uint32_t plane)                read/write its value now;
// and for residues
//   bool Refine(uint32_t index, uint32_t plane)               bit: a set coefficient grows by it
// where `plane` is the bit plane (coefficients) or the mask (residues). Value
// and Refine return false when the walk must stop (the residue's last
// operation).
#pragma once
#include <cstdint>

// Coding-list entry modes. Index 0 with mode 0 marks an empty entry.
enum CoeffListMode : uint8_t {
  LIST_GROUP20 = 0,  // k..k+3 now, then k+4..k+19 as a four-group entry
  LIST_GROUP16 = 1,  // k..k+15 as four groups of four
  LIST_GROUP4 = 2,   // k..k+3
  LIST_SINGLE = 3,   // one coefficient already known to be below an earlier plane
};

struct CoeffList {
  // Every index is coded in a group exactly once, so at most 64 entries are
  // prepended and 9 appended to the first few: the bounds hold for any input.
  // Entries are index | mode << 8; 16-bit stores, unlike byte stores, cannot
  // alias the bit reader's fields, which keeps them in registers.
  uint16_t entry[80];
  uint32_t start, end;
};

inline constexpr uint16_t CoeffEntry(uint32_t index, uint32_t mode) {
  return static_cast<uint16_t>(index | mode << 8);
}

inline void CoeffListInit(CoeffList* list) { list->start = list->end = 64; }

inline void CoeffListAppend(CoeffList* list, uint32_t index, uint32_t mode) {
  list->entry[list->end++] = CoeffEntry(index, mode);
}

// One pass over the list at `plane`. Returns false if the source stopped it.
template <class Source>
__attribute__((always_inline)) inline bool CoeffListPass(CoeffList* list, Source& source,
                                                         uint32_t plane) {
  // A group of four: each coefficient is either below this plane (and waits
  // at the list's start for a later pass) or has its value coded now.
  auto code_four = [&](uint32_t k) {
    for (uint32_t j = k; j < k + 4; j++) {
      if (source.BelowBit(j, plane))
        list->entry[--list->start] = CoeffEntry(j, LIST_SINGLE);
      else if (!source.Value(j, plane))
        return false;
    }
    return true;
  };
  constexpr uint16_t kEmpty = CoeffEntry(0, LIST_GROUP20);
  uint32_t i = list->start;
  while (i < list->end) {  // entries appended during the pass are visited too
    uint32_t entry = list->entry[i];
    uint32_t k = entry & 0xFF;
    uint32_t mode = entry >> 8;
    if (entry == kEmpty || !source.EntryBit(k, mode, plane)) {
      i++;
      continue;
    }
    switch (mode) {
      case LIST_GROUP20:
        list->entry[i] = CoeffEntry(k + 4, LIST_GROUP16);
        if (!code_four(k)) return false;
        break;  // the same entry is examined again
      case LIST_GROUP16:
        list->entry[i] = CoeffEntry(k, LIST_GROUP4);
        CoeffListAppend(list, k + 4, LIST_GROUP4);
        CoeffListAppend(list, k + 8, LIST_GROUP4);
        CoeffListAppend(list, k + 12, LIST_GROUP4);
        break;
      case LIST_GROUP4:
        list->entry[i] = kEmpty;
        if (!code_four(k)) return false;
        i++;
        break;
      default:
        list->entry[i] = kEmpty;
        if (!source.Value(k, plane)) return false;
        i++;
        break;
    }
  }
  return true;
}

// Coefficients 1..63 in `planes` bit planes, highest first.
template <class Source>
void WalkDctCoefficients(Source& source, uint32_t planes) {
  CoeffList list;
  CoeffListInit(&list);
  CoeffListAppend(&list, 4, LIST_GROUP20);
  CoeffListAppend(&list, 24, LIST_GROUP20);
  CoeffListAppend(&list, 44, LIST_GROUP20);
  CoeffListAppend(&list, 1, LIST_SINGLE);
  CoeffListAppend(&list, 2, LIST_SINGLE);
  CoeffListAppend(&list, 3, LIST_SINGLE);
  for (uint32_t b = planes; b-- > 0;) CoeffListPass(&list, source, b);
}

// A residue of indices 0..63 with masks 2^exponent down to 1; set[] keeps
// the coefficients in the order they became non-zero (refinement order).
template <class Source>
void WalkResidue(Source& source, uint32_t exponent) {
  CoeffList list;
  CoeffListInit(&list);
  CoeffListAppend(&list, 4, LIST_GROUP20);
  CoeffListAppend(&list, 24, LIST_GROUP20);
  CoeffListAppend(&list, 44, LIST_GROUP20);
  CoeffListAppend(&list, 0, LIST_GROUP4);
  for (uint32_t mask = 1u << exponent; mask; mask >>= 1) {
    uint32_t already_set = source.set_count;  // those set in this pass are not refined in it
    for (uint32_t s = 0; s < already_set; s++)
      if (!source.Refine(source.set[s], mask)) return;
    if (!CoeffListPass(&list, source, mask)) return;
  }
}
