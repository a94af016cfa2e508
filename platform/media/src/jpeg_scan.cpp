// Reads a baseline JPEG's scan through its Huffman codes without decoding a picture: a cut,
// a lost piece or damaged bits leave a code that does not exist, a block of more than 64
// coefficients, a scan that ends before its last block or runs on after it, or restart markers
// out of turn. This costs a quarter of a decode at an eighth of the size. A picture it
// does not pass goes to the decoder, which has the last word: a camera whose pictures bend a
// rule the decoder forgives still records.
#include "jpeg_check.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kelvra::media {

namespace {

constexpr uint8_t kMarker = 0xFF, kSoi = 0xD8, kSos = 0xDA, kDqt = 0xDB, kDht = 0xC4, kDri = 0xDD;
constexpr uint8_t kSof0 = 0xC0, kSof1 = 0xC1, kRst0 = 0xD0, kApp0 = 0xE0, kApp15 = 0xEF, kCom = 0xFE;
constexpr int kRstCycle = 8;
constexpr int kTables = 4;                 // table slots for each of DC and AC
constexpr int kMaxComponents = 3;          // grey or Y'CbCr; anything else goes to the decoder
constexpr int kMaxSampling = 2;            // 4:4:4, 4:2:2, 4:2:0 and 4:4:0
constexpr int kCodeLengths = 16;
constexpr int kMaxSymbols = 256;
constexpr int kLookBits = 11;              // a code and its value bits looked up at once
constexpr int kBlockSize = 8, kCoefficients = 64;
constexpr int kMaxDcCategory = 11, kMaxAcSize = 10, kZeroRun = 0xF0, kEndOfBlock = 0x00;
constexpr int kEobAdvance = 128;           // past any position an AC run can reach
constexpr int kLookupsPerRefill = 3;       // 56 bits less three lookups hold a 16-bit code and 10 value bits
constexpr int kStartBits = 12;             // a block's start looked up at once

uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

// The JPEG standard's example tables (ITU T.81 K.3), which USB cameras leave out of their
// pictures: a decoder uses them wherever a picture defines no table of its own.
constexpr uint8_t kDcLumaCounts[kCodeLengths] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromaCounts[kCodeLengths] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLumaCounts[kCodeLengths] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 125};
constexpr uint8_t kAcLumaValues[] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChromaCounts[kCodeLengths] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 119};
constexpr uint8_t kAcChromaValues[] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// The entropy-coded data, copied without the stuffed zero after each 0xFF and without its
// restart markers, so that it can be read eight bytes at a time without looking at each byte.
// A damaged picture may make the reading run on past the end: zero bytes follow the data for
// further than one block can reach (64 codes of at most 27 bits) before the reading stops.
constexpr size_t kTail = 256;

// Reads the bits of the copied data, first bit at the top of `bits`.
struct BitReader {
    const uint8_t* at;
    uint64_t bits = 0;
    int count = 0;

    void refill()
    {
        uint64_t v;
        std::memcpy(&v, at, sizeof v);
        bits |= __builtin_bswap64(v) >> count;
        at += (63 - count) >> 3;
        count |= 56;
    }

    uint32_t peek(int n) const { return uint32_t(bits >> (64 - n)); }

    void skip(int n)
    {
        bits <<= n;
        count -= n;
    }

    // Bits read from `base` on.
    int64_t position(const uint8_t* base) const { return int64_t(at - base) * 8 - count; }
};

// One Huffman table, looked up kLookBits at a time. For a code that fits, its entry gives all
// the bits of the code and the value that follows it, and how far it moves along the block;
// for an AC code followed by a second one that fits as well, the bits and moves of both.
struct Huffman {
    struct Entry {
        uint8_t bits;  // 0: the code is longer than kLookBits, or its value does not fit
        uint8_t advance;
        uint8_t firstBits, firstAdvance;  // the first code alone
    };
    // Left uninitialised until build(): a picture has room for eight tables and most use two.
    std::array<Entry, 1 << kLookBits> fast;
    // For codes the fast entries leave out because their value bits do not fit: the code the
    // looked-up bits begin with (its length, and its symbol << 8); 0 when the code is longer.
    std::array<uint16_t, 1 << kLookBits> shortCode;
    int32_t maxCode[kCodeLengths + 1];  // the largest code of each length; -1 when it has none
    int32_t offset[kCodeLengths + 1];   // a code's symbol is symbols[code + offset[length]]
    uint8_t symbols[kMaxSymbols];

    // False for counts that give more codes than there is room for.
    bool build(const uint8_t* counts, const uint8_t* values, bool dc)
    {
        int total = 0;
        for (int i = 0; i < kCodeLengths; ++i)
            total += counts[i];
        if (total > kMaxSymbols)
            return false;
        std::memcpy(symbols, values, size_t(total));
        fast.fill({});
        shortCode.fill(0);
        int32_t code = 0;
        int k = 0;
        for (int length = 1; length <= kCodeLengths; ++length) {
            const int n = counts[length - 1];
            if (code + n > (1 << length))
                return false;
            offset[length] = k - code;
            for (int i = 0; i < n; ++i, ++k, ++code)
                if (length <= kLookBits)
                    fill(code, length, values[k], dc);
            maxCode[length] = n ? code - 1 : -1;
            code <<= 1;
        }
        if (!dc)
            pairUp();
        return true;
    }

    // Two AC codes at once where the second lies whole in the bits looked up after the first.
    void pairUp()
    {
        const std::array<Entry, 1 << kLookBits> single = fast;
        for (size_t i = 0; i < single.size(); ++i) {
            const Entry& first = single[i];
            if (!first.bits || first.advance >= kEobAdvance)
                continue;
            const Entry& second = single[(i << first.bits) & (single.size() - 1)];
            if (second.bits && first.bits + second.bits <= kLookBits)
                fast[i] = {uint8_t(first.bits + second.bits), uint8_t(first.advance + second.advance), first.bits,
                           first.advance};
        }
    }

    void fill(int32_t code, int length, uint8_t symbol, bool dc)
    {
        const int size = symbol & 0xF, run = symbol >> 4;
        Entry e{};
        if (dc) {
            if (symbol <= kMaxDcCategory && length + symbol <= kLookBits)
                e = {uint8_t(length + symbol), 0, 0, 0};
        } else if (symbol == kEndOfBlock) {
            e = {uint8_t(length), kEobAdvance, 0, 0};
        } else if (symbol == kZeroRun) {
            e = {uint8_t(length), 16, 0, 0};
        } else if (size != 0 && size <= kMaxAcSize && length + size <= kLookBits) {
            e = {uint8_t(length + size), uint8_t(run + 1), 0, 0};
        }
        e.firstBits = e.bits;
        e.firstAdvance = e.advance;
        const int spare = kLookBits - length;
        for (int j = 0; j < 1 << spare; ++j) {
            fast[size_t(code << spare | j)] = e;
            shortCode[size_t(code << spare | j)] = uint16_t(length | symbol << 8);
        }
    }

    // The next code's symbol, or -1 for bits that are no code of this table.
    int decode(BitReader& r) const
    {
        const uint16_t s = shortCode[r.peek(kLookBits)];
        if (s) {
            r.skip(s & 0xFF);
            return s >> 8;
        }
        // No shorter code begins these bits, so in canonical order the code is longer still.
        for (int length = kLookBits + 1; length <= kCodeLengths; ++length) {
            const int32_t c = int32_t(r.peek(length));
            if (c <= maxCode[length]) {
                r.skip(length);
                return symbols[c + offset[length]];
            }
        }
        return -1;
    }
};

// A block's start looked up at once: for kStartBits bits that begin a block, how many of them
// its DC code and value and the AC codes after them take, as far as these lie whole in the
// bits, and where in the block they leave off. Most blocks of a picture end within them.
struct BlockStart {
    static constexpr uint16_t kEnded = 1 << 11;
    static constexpr int kPositionShift = 4, kBitsMask = 15, kPositionMask = 127;
    std::array<uint16_t, 1 << kStartBits> entry;  // bits | position << 4 | kEnded; 0: the DC code does not fit

    void build(const Huffman& dc, const Huffman& ac)
    {
        static_assert(kStartBits >= kLookBits && kStartBits <= kBitsMask);
        constexpr uint32_t window = (1u << kStartBits) - 1;
        for (uint32_t x = 0; x <= window; ++x) {
            // Zeros stand for the bits past the window: a code lying whole in the window is
            // found all the same, and one that does not is not taken.
            const Huffman::Entry d = dc.fast[x >> (kStartBits - kLookBits)];
            if (!d.firstBits) {
                entry[x] = 0;
                continue;
            }
            int used = d.firstBits, k = 1;
            uint16_t ended = 0;
            while (!ended) {
                const Huffman::Entry a = ac.fast[((x << used) & window) >> (kStartBits - kLookBits)];
                const bool endOfBlock = a.firstAdvance >= kEobAdvance;
                if (!a.firstBits || used + a.firstBits > kStartBits ||
                    (!endOfBlock && k + a.firstAdvance > kCoefficients))
                    break;  // left to the reading of single codes, which refuses a block too long
                used += a.firstBits;
                if (!endOfBlock)
                    k += a.firstAdvance;
                if (endOfBlock || k == kCoefficients)
                    ended = kEnded;
            }
            entry[x] = uint16_t(used | k << kPositionShift | ended);
        }
    }
};

struct Component {
    uint8_t id, h, v, quant;
    const Huffman* dc = nullptr;
    const Huffman* ac = nullptr;
    const BlockStart* start = nullptr;
};

struct Picture {
    int width = 0, height = 0, components = 0, restartInterval = 0;
    Component component[kMaxComponents];
    bool quant[kTables] = {};
    const Huffman* dc[kTables] = {};  // a standard table, or the picture's own from ownDc/ownAc
    const Huffman* ac[kTables] = {};
    Huffman ownDc[kTables], ownAc[kTables];
    BlockStart start[kMaxComponents];
};

constexpr int kStandardTables = 2;  // luma and chroma, in slots 0 and 1

struct StandardTables {
    Huffman dc[kStandardTables], ac[kStandardTables];
    BlockStart start[kStandardTables][kStandardTables];  // [dc][ac]
};

const StandardTables& standardTables()
{
    static const StandardTables* const tables = [] {
        auto* t = new StandardTables;
        t->dc[0].build(kDcLumaCounts, kDcValues, true);
        t->dc[1].build(kDcChromaCounts, kDcValues, true);
        t->ac[0].build(kAcLumaCounts, kAcLumaValues, false);
        t->ac[1].build(kAcChromaCounts, kAcChromaValues, false);
        for (int d = 0; d < kStandardTables; ++d)
            for (int a = 0; a < kStandardTables; ++a)
                t->start[d][a].build(t->dc[d], t->ac[a]);
        return t;
    }();
    return *tables;
}

bool readQuant(const uint8_t* s, size_t n, Picture& p)
{
    while (n > 0) {
        const int precision = s[0] >> 4, id = s[0] & 0xF;
        const size_t bytes = 1 + size_t(kCoefficients) * (precision ? 2 : 1);
        if (precision > 1 || id >= kTables || n < bytes)
            return false;
        for (size_t i = 1; i < bytes; ++i)  // a step of zero is no quantiser
            if (s[i] == 0 && (!precision || (i % 2 == 0 && s[i - 1] == 0)))
                return false;
        p.quant[id] = true;
        s += bytes;
        n -= bytes;
    }
    return true;
}

bool readHuffman(const uint8_t* s, size_t n, Picture& p)
{
    while (n > 0) {
        if (n < 1 + kCodeLengths)
            return false;
        const int kind = s[0] >> 4, id = s[0] & 0xF;
        size_t total = 0;
        for (int i = 0; i < kCodeLengths; ++i)
            total += s[1 + i];
        const size_t bytes = 1 + kCodeLengths + total;
        if (kind > 1 || id >= kTables || n < bytes)
            return false;
        Huffman& table = kind ? p.ownAc[id] : p.ownDc[id];
        if (!table.build(s + 1, s + 1 + kCodeLengths, kind == 0))
            return false;
        (kind ? p.ac : p.dc)[id] = &table;
        s += bytes;
        n -= bytes;
    }
    return true;
}

bool readFrame(const uint8_t* s, size_t n, Picture& p)
{
    if (n < 6 || s[0] != 8 || p.components)
        return false;
    p.height = be16(s + 1);
    p.width = be16(s + 3);
    p.components = s[5];
    if (p.width == 0 || p.height == 0 || (p.components != 1 && p.components != kMaxComponents) ||
        n != 6 + 3 * size_t(p.components))
        return false;
    for (int i = 0; i < p.components; ++i) {
        Component& c = p.component[i];
        const uint8_t* f = s + 6 + 3 * i;
        c = {f[0], uint8_t(f[1] >> 4), uint8_t(f[1] & 0xF), f[2]};
        if (c.h < 1 || c.h > kMaxSampling || c.v < 1 || c.v > kMaxSampling || c.quant >= kTables)
            return false;
        if (i > 0 && (c.h > p.component[0].h || c.v > p.component[0].v))
            return false;
    }
    return true;
}

// One scan holding every component, all coefficients at full precision: baseline order.
bool readScan(const uint8_t* s, size_t n, Picture& p)
{
    if (p.components == 0 || n < 1 || s[0] != p.components || n != 4 + 2 * size_t(p.components))
        return false;
    for (int i = 0; i < p.components; ++i) {
        Component& c = p.component[i];
        const int dc = s[2 + 2 * i] >> 4, ac = s[2 + 2 * i] & 0xF;
        if (s[1 + 2 * i] != c.id || dc >= kTables || ac >= kTables || !p.quant[c.quant])
            return false;
        c.dc = p.dc[dc];
        c.ac = p.ac[ac];
        if (!c.dc || !c.ac)
            return false;
        const StandardTables& standard = standardTables();
        for (int d = 0; d < kStandardTables; ++d)
            for (int a = 0; a < kStandardTables; ++a)
                if (c.dc == &standard.dc[d] && c.ac == &standard.ac[a])
                    c.start = &standard.start[d][a];
        for (int j = 0; j < i && !c.start; ++j)
            if (p.component[j].dc == c.dc && p.component[j].ac == c.ac)
                c.start = p.component[j].start;
        if (!c.start) {
            p.start[i].build(*c.dc, *c.ac);
            c.start = &p.start[i];
        }
    }
    const uint8_t* tail = s + 1 + 2 * p.components;
    return tail[0] == 0 && tail[1] == kCoefficients - 1 && tail[2] == 0;
}

// A code the lookup does not cover: longer, or one no block may hold.
bool skipLongAc(BitReader& r, const Huffman& ac, int& k)
{
    const int symbol = ac.decode(r);
    const int size = symbol & 0xF, run = symbol >> 4;
    if (symbol == kEndOfBlock) {
        k = kEobAdvance;
        return true;
    }
    if (symbol < 0 || size > kMaxAcSize || (size == 0 && symbol != kZeroRun))
        return false;
    r.skip(size);
    k += size ? run + 1 : 16;
    return true;
}

bool skipBlock(BitReader& r, const Component& comp)
{
    const Huffman& dc = *comp.dc;
    const Huffman& ac = *comp.ac;
    if (r.count < kStartBits)
        r.refill();
    const uint16_t start = comp.start->entry[r.peek(kStartBits)];
    r.skip(start & BlockStart::kBitsMask);
    if (start & BlockStart::kEnded)
        return true;
    int k = start >> BlockStart::kPositionShift & BlockStart::kPositionMask;
    if (!start) {
        r.refill();
        const Huffman::Entry e = dc.fast[r.peek(kLookBits)];
        if (e.bits) {
            r.skip(e.bits);
        } else {
            const int category = dc.decode(r);
            if (category < 0 || category > kMaxDcCategory)
                return false;
            r.skip(category);
        }
        k = 1;
    }
    while (k < kCoefficients) {
        // Each refill is a load in the chain from one code to the next, so it serves several
        // lookups; the bits left after them still hold the longest code and its value.
        r.refill();
        int step = 0;
        for (; step < kLookupsPerRefill && k < kCoefficients; ++step) {
            const Huffman::Entry a = ac.fast[r.peek(kLookBits)];
            if (!a.bits)
                break;
            const bool both = k + a.firstAdvance < kCoefficients;  // the second code is still of this block
            r.skip(both ? a.bits : a.firstBits);
            k += both ? a.advance : a.firstAdvance;
        }
        if (k < kCoefficients && step < kLookupsPerRefill && !skipLongAc(r, ac, k))
            return false;
    }
    return k == kCoefficients || k >= kEobAdvance;
}

// The data from `from` to the EOI at `eoi` into `out`, unstuffed; where each restart
// interval's data ends in `out`. False unless the markers in it are RST0..7 in turn, then EOI.
bool unstuff(const uint8_t* from, const uint8_t* eoi, std::vector<uint8_t>& out, std::vector<size_t>& ends)
{
    out.clear();
    ends.clear();
    const uint8_t* end = eoi + 2;
    for (const uint8_t* at = from;;) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(at, kMarker, size_t(end - at)));
        if (!ff || ff + 1 >= end)
            return false;
        out.insert(out.end(), at, ff);
        const uint8_t next = ff[1];
        at = ff + 2;
        if (next == 0) {
            out.push_back(kMarker);
            continue;
        }
        ends.push_back(out.size());
        if (ff == eoi)
            break;
        if (next != kRst0 + (ends.size() - 1) % kRstCycle)
            return false;
    }
    out.resize(out.size() + kTail, 0);
    return true;
}

// Every block the frame header asks for, restart markers in turn, and the end of the data
// right after the last block, at the EOI that ends the picture.
bool readEntropyData(const Picture& p, const uint8_t* from, const uint8_t* eoi, std::vector<uint8_t>& scratch)
{
    std::vector<size_t> ends;
    if (!unstuff(from, eoi, scratch, ends))
        return false;
    int hMax = 1, vMax = 1;
    for (int i = 0; i < p.components; ++i) {
        hMax = std::max<int>(hMax, p.component[i].h);
        vMax = std::max<int>(vMax, p.component[i].v);
    }
    const bool single = p.components == 1;
    const int unitW = single ? kBlockSize : kBlockSize * hMax, unitH = single ? kBlockSize : kBlockSize * vMax;
    const int64_t units = int64_t((p.width + unitW - 1) / unitW) * ((p.height + unitH - 1) / unitH);
    const int64_t interval = p.restartInterval ? p.restartInterval : units;
    if (int64_t(ends.size()) != (units + interval - 1) / interval)
        return false;
    const uint8_t* base = scratch.data();
    int64_t unit = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
        const int64_t endBits = int64_t(ends[i]) * 8;
        BitReader r{base + (i ? ends[i - 1] : 0)};
        for (const int64_t last = std::min(units, unit + interval); unit < last; ++unit) {
            for (int c = 0; c < p.components; ++c) {
                const Component& comp = p.component[c];
                for (int b = single ? 1 : comp.h * comp.v; b > 0; --b)
                    if (!skipBlock(r, comp) || r.position(base) > endBits)
                        return false;
            }
        }
        // Only the one-bits that fill the last byte may be left.
        const int64_t left = endBits - r.position(base);
        r.refill();
        if (left >= 8 || (left > 0 && r.peek(int(left)) != (1u << left) - 1))
            return false;
    }
    return true;
}

}  // namespace

bool scanIsWhole(const uint8_t* data, size_t size, std::vector<uint8_t>& scratch)
{
    const size_t used = jpegLength(data, size);
    if (used == 0 || data[0] != kMarker || data[1] != kSoi)
        return false;
    Picture p;
    const StandardTables& standard = standardTables();
    for (int i = 0; i < kStandardTables; ++i) {
        p.dc[i] = &standard.dc[i];
        p.ac[i] = &standard.ac[i];
    }
    for (size_t at = 2; at + 4 <= used && data[at] == kMarker;) {
        const uint8_t marker = data[at + 1];
        const size_t length = be16(data + at + 2);
        if (length < 2 || at + 2 + length > used)
            return false;
        const uint8_t* s = data + at + 4;
        const size_t n = length - 2;
        if (marker == kSos)
            return readScan(s, n, p) && readEntropyData(p, s + n, data + used - 2, scratch);
        bool fine = false;
        if ((marker >= kApp0 && marker <= kApp15) || marker == kCom) {
            fine = true;
        } else if (marker == kDqt) {
            fine = readQuant(s, n, p);
        } else if (marker == kDht) {
            fine = readHuffman(s, n, p);
        } else if (marker == kDri && n == 2) {
            p.restartInterval = be16(s);
            fine = true;
        } else if (marker == kSof0 || marker == kSof1) {
            fine = readFrame(s, n, p);
        }
        if (!fine)
            return false;
        at += 2 + length;
    }
    return false;
}

}  // namespace kelvra::media
