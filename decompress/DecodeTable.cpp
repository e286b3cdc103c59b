// Builder of the multi-level decoding tables: the first-level table is
// indexed by a few bits, longer codes go through sub-tables sized to the
// codes that actually occur. All tables of one build hang on one chain so a
// single call releases them.
#include "decompress/DecodeTable.h"

#include <new>

#include "decompress/DecodeContext.h"
#include "platform/Ui.h"

namespace quv {

namespace {

// A table block is size + 1 entries: a hidden header whose Next links to the
// next table of the same build, then the table proper.
TCodeEntry* Header(TCodeEntry* table) { return table - 1; }

}  // namespace

int FreeDecodeTables(TCodeEntry*& t) {
  TCodeEntry* p = t;
  while (p != nullptr) {
    TCodeEntry* block = Header(p);
    TCodeEntry* next = block->Next;
    delete[] block;
    p = next;
  }
  t = nullptr;
  return 0;
}

int BuildDecodeTable(const std::uint16_t* b, int n, int s, const std::uint16_t* d, const std::uint16_t* e,
                     TCodeEntry*& t, int& m, std::uint16_t* entryCount) {
  t = nullptr;
  if (n < 0 || n > kMaxCodes) return 1;
  try {
    // Counts of each length.
    unsigned c[kMaxCodeBits + 1] = {};
    for (int i = 0; i < n; ++i) {
      if (b[i] > kMaxCodeBits) return 2;
      ++c[b[i]];
    }
    if (c[0] == static_cast<unsigned>(n)) {
      m = 0;
      return 0;
    }

    // Shortest and longest length; the first-level bits lie between them.
    int k = 1;
    while (c[k] == 0) ++k;
    int g = kMaxCodeBits;
    while (c[g] == 0) --g;
    int l = m;
    if (l < k) l = k;
    if (l > g) l = g;
    m = l;

    // Over-subscription check; y ends as the number of unused code slots,
    // which become invalid entries of the longest length.
    int y = 1 << k;
    for (int j = k; j < g; ++j, y <<= 1) {
      y -= static_cast<int>(c[j]);
      if (y < 0) return 2;
    }
    y -= static_cast<int>(c[g]);
    if (y < 0) return 2;
    c[g] += static_cast<unsigned>(y);

    // Symbols in order of code length.
    unsigned x[kMaxCodeBits + 2] = {};
    x[1] = 0;
    for (int j = 1; j < g; ++j) x[j + 1] = x[j] + c[j];
    unsigned v[kMaxCodes] = {};
    for (int i = 0; i < n; ++i)
      if (b[i] != 0) v[x[b[i]]++] = static_cast<unsigned>(i);
    const unsigned placedCount = x[g];  // symbols of non-zero length

    TCodeEntry* u[kMaxCodeBits] = {};  // table of each level
    unsigned prefix[kMaxCodeBits + 1] = {};  // code prefix leading to each level
    TCodeEntry** link = &t;  // where the next table is chained
    TCodeEntry r;
    unsigned i = 0;  // current code, bit-reversed
    unsigned p = 0;  // next symbol in v
    int h = -1;      // current level
    int w = -l;      // bits decoded by the levels above the current one
    TCodeEntry* q = nullptr;
    unsigned z = 0;  // size of the current table

    for (; k <= g; ++k) {
      unsigned a = c[k];
      while (a-- != 0) {
        // Open tables down to the level this code needs.
        while (k > w + l) {
          ++h;
          w += l;
          z = static_cast<unsigned>(g - w) > static_cast<unsigned>(l) ? static_cast<unsigned>(l)
                                                                       : static_cast<unsigned>(g - w);
          unsigned j = static_cast<unsigned>(k - w);
          unsigned f = 1u << j;
          if (f > a + 1) {
            // Too few codes of this length for a j-bit table: grow it while
            // longer codes fill the room.
            f -= a + 1;
            int xp = k;
            if (j < z) {
              while (++j < z) {
                f <<= 1;
                if (f <= c[++xp]) break;
                f -= c[xp];
              }
            }
          }
          z = 1u << j;

          TCodeEntry* block = new (std::nothrow) TCodeEntry[z + 1];
          if (block == nullptr) {
            FreeDecodeTables(t);
            platform::Ui().ShowMessage("*** inflate out of memory ***", "Error", platform::Buttons::Ok);
            return 3;
          }
          if (entryCount != nullptr) *entryCount = static_cast<std::uint16_t>(*entryCount + z + 1);
          *link = block + 1;
          block->Next = nullptr;
          link = &block->Next;
          q = block + 1;
          u[h] = q;

          if (h > 0) {
            prefix[h] = i;
            TCodeEntry to;
            to.Bits = static_cast<std::uint8_t>(l);
            to.Op = static_cast<std::uint8_t>(16 + j);
            to.Next = q;
            to.Value = r.Value;
            u[h - 1][i >> (w - l)] = to;
          }
        }

        // The entry for this code.
        r.Bits = static_cast<std::uint8_t>(k - w);
        r.Next = nullptr;
        if (p >= placedCount) {
          r.Op = kOpInvalid;  // an unused slot; Value stays as it was
        } else if (static_cast<int>(v[p]) < s) {
          r.Op = v[p] < 256 ? kOpLiteral : kOpEndOfBlock;
          r.Value = static_cast<std::uint16_t>(v[p]);
          ++p;
        } else {
          r.Op = static_cast<std::uint8_t>(e[v[p] - static_cast<unsigned>(s)] & 0xFF);
          r.Value = d[v[p] - static_cast<unsigned>(s)];
          ++p;
        }

        // Store it wherever the code's bits lead.
        const unsigned step = 1u << (k - w);
        for (unsigned j = i >> w; j < z; j += step) q[j] = r;

        // Next code, in bit-reversed order.
        unsigned j = 1u << (k - 1);
        while ((i & j) != 0) {
          i ^= j;
          j >>= 1;
        }
        i ^= j;

        // Close the tables that are full.
        while (h > 0 && (i & ((1u << w) - 1)) != prefix[h]) {
          --h;
          w -= l;
        }
      }
    }
    return (y != 0 && g != 1) ? 1 : 0;
  } catch (...) {
    FreeDecodeTables(t);
    return 1;
  }
}

const TCodeEntry* DecodeSymbol(TDecodeContext& ctx, const TCodeEntry* table, int lookupBits,
                               std::uint32_t& holder, std::uint16_t& count, bool complement) {
  if (table == nullptr) return nullptr;
  const std::uint32_t flip = complement ? 0xFFFFFFFFu : 0u;
  EnsureBits(ctx, lookupBits, holder, count);
  const TCodeEntry* entry = &table[(holder ^ flip) & LowBitMask[lookupBits]];
  while (entry->Op > kOpLiteral) {
    if (entry->Op == kOpInvalid) return nullptr;
    DropBits(entry->Bits, holder, count);
    const int j = entry->Op - 16;
    EnsureBits(ctx, j, holder, count);
    entry = &entry->Next[(holder ^ flip) & LowBitMask[j]];
  }
  DropBits(entry->Bits, holder, count);
  return entry;
}

}  // namespace quv
