#include "app/imaging/JpegBlocks.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{

// The zigzag position's coefficient in natural (row by row) order.
constexpr std::array<int, DCTSIZE2> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// For each row of a block and each pattern of its eight coefficients, the same coefficients as
// bits in zigzag order: eight look-ups turn a natural-order mask into a zigzag one.
using TZigzagBits = std::array<std::array<std::uint64_t, 256>, DCTSIZE>;

constexpr TZigzagBits MakeZigzagBits()
{
    std::array<int, DCTSIZE2> position{};
    for (int z = 0; z < DCTSIZE2; ++z)
        position[static_cast<std::size_t>(kNatural[static_cast<std::size_t>(z)])] = z;
    TZigzagBits table{};
    for (int row = 0; row < DCTSIZE; ++row)
        for (int pattern = 0; pattern < 256; ++pattern)
        {
            std::uint64_t bits = 0;
            for (int column = 0; column < DCTSIZE; ++column)
            {
                const int at = row * DCTSIZE + column;
                if ((pattern >> column & 1) != 0)
                    bits |= std::uint64_t{1} << position[static_cast<std::size_t>(at)];
            }
            table[static_cast<std::size_t>(row)][static_cast<std::size_t>(pattern)] = bits;
        }
    return table;
}

constexpr TZigzagBits kZigzagBits = MakeZigzagBits();

// Bit n is set when coefficient n (natural order) is not zero.
std::uint64_t NonzeroMask(const JCOEF* block)
{
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < DCTSIZE2; i += 16)
    {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        const auto zeroBits = static_cast<unsigned>(_mm_movemask_epi8(zeros));
        mask |= static_cast<std::uint64_t>(~zeroBits & 0xFFFFu) << i;
    }
#else
    for (int i = 0; i < DCTSIZE2; ++i)
        if (block[i] != 0)
            mask |= std::uint64_t{1} << i;
#endif
    return mask;
}

int BitLength(int value)
{
    return static_cast<int>(std::bit_width(static_cast<unsigned>(std::abs(value))));
}

// Counts the symbols of a block whose nonzero coefficients are the bits of natural;
// bitLength(k) is the bit length of coefficient k (natural order).
template <typename TBitLength>
void CountSymbols(const JCOEF* block, std::uint64_t natural, const TBitLength& bitLength,
                  int& lastDc, THuffmanCounts& counts)
{
    ++counts.Dc[static_cast<std::size_t>(BitLength(block[0] - lastDc))];
    lastDc = block[0];
    natural &= ~std::uint64_t{1};
    std::uint64_t zigzag = 0;
    // Up to the last row with a nonzero coefficient: most blocks end in rows of zeros.
    for (std::size_t row = 0; natural != 0; ++row, natural >>= 8)
        zigzag |= kZigzagBits[row][natural & 0xFF];
    int previous = 0;
    while (zigzag != 0)
    {
        const int position = std::countr_zero(zigzag);
        int run = position - previous - 1;
        for (; run >= 16; run -= 16)
            ++counts.Ac[0xF0]; // sixteen zeros
        const int size = bitLength(kNatural[static_cast<std::size_t>(position)]);
        ++counts.Ac[static_cast<std::size_t>(run << 4 | size)];
        previous = position;
        zigzag &= zigzag - 1;
    }
    if (previous < DCTSIZE2 - 1)
        ++counts.Ac[0x00]; // end of block
}

} // namespace

// The arithmetic is in single precision, exact where it matters: |v| * from + half is a whole
// number, exact below 2^24 and otherwise far above the saturation point, which is below 2^18
// since the target's quantiser is at most 255; the quotient by the target's quantiser is then
// below 1024 and its product with the rounded reciprocal lies within 1.2e-4 of it, while a
// quotient that is not whole lies at least 1/255 from the next whole number. Adding 2^-9
// before truncating therefore gives the exact floor.
TRequantTable::TRequantTable(const std::uint16_t* from, const std::uint16_t* to)
{
    for (std::size_t k = 0; k < DCTSIZE2; ++k)
    {
        const int target = std::clamp<int>(to[k], 1, 255);
        m_from[k] = static_cast<float>(from[k]);
        const int half = (target - 1) / 2; // whole, as the quantizer rounds
        m_half[k] = static_cast<float>(half);
        m_saturate[k] = static_cast<float>(1024 * target - 1);
        m_inverse[k] = 1.0f / static_cast<float>(target);
        // |v| * from + half >= target gives the least |v| whose quotient is not 0 (at most
        // 255); with a quantiser of 0 (a damaged file) there is none.
        const int least = (target - half + from[k] - 1) / std::max<int>(from[k], 1);
        m_nonzeroAbove[k] = static_cast<std::int16_t>(from[k] == 0 ? 32767 : least - 1);
        m_nonzeroBelow[k] = static_cast<std::int16_t>(from[k] == 0 ? -32768 : 1 - least);
    }
}

void TRequantTable::Apply(const JCOEF* in, JCOEF* out) const
{
    std::uint8_t lengths[DCTSIZE2];
    Requantize(in, out, lengths);
}

// Which coefficients requantize to 0 is known from their magnitudes alone: rows of the block
// that are all 0 skip the float work, and the counting takes its mask of nonzero coefficients
// from the same comparison instead of reading the block back.
void TRequantTable::ApplyAndCount(const JCOEF* in, JCOEF* out, int& lastDc,
                                  THuffmanCounts& counts) const
{
    alignas(16) std::uint8_t lengths[DCTSIZE2];
    const std::uint64_t natural = Requantize(in, out, lengths);
    CountSymbols(
        out, natural, [&lengths](int k) { return lengths[static_cast<std::size_t>(k)]; }, lastDc,
        counts);
}

std::uint64_t TRequantTable::Requantize(const JCOEF* in, JCOEF* out, std::uint8_t* lengths) const
{
    constexpr float kNudge = 1.0f / 512;
    std::uint64_t natural = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128 nudge = _mm_set1_ps(kNudge);
    for (int i = 0; i < DCTSIZE2; i += 8)
    {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const auto k0 = static_cast<std::size_t>(i);
        const __m128i nonzero = _mm_or_si128(
            _mm_cmpgt_epi16(value,
                            _mm_load_si128(reinterpret_cast<const __m128i*>(&m_nonzeroAbove[k0]))),
            _mm_cmplt_epi16(value,
                            _mm_load_si128(reinterpret_cast<const __m128i*>(&m_nonzeroBelow[k0]))));
        const auto bits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(nonzero, nonzero))) & 0xFFu;
        if (bits == 0)
        {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), zero);
            continue;
        }
        natural |= static_cast<std::uint64_t>(bits) << i;
        const __m128i sign = _mm_srai_epi16(value, 15);
        // |v| as an unsigned 16-bit value (-32768 gives 32768).
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(value, sign), sign);
        // Widened to 32 bits, four at a time.
        __m128i halves[2] = {_mm_unpacklo_epi16(magnitude, zero),
                             _mm_unpackhi_epi16(magnitude, zero)};
        for (int h = 0; h < 2; ++h)
        {
            const int at = i + 4 * h;
            const auto k = static_cast<std::size_t>(at);
            __m128 x = _mm_cvtepi32_ps(halves[h]);
            x = _mm_add_ps(_mm_mul_ps(x, _mm_load_ps(&m_from[k])), _mm_load_ps(&m_half[k]));
            x = _mm_min_ps(x, _mm_load_ps(&m_saturate[k]));
            x = _mm_add_ps(_mm_mul_ps(x, _mm_load_ps(&m_inverse[k])), nudge);
            halves[h] = _mm_cvttps_epi32(x);
        }
        const __m128i quotient = _mm_packs_epi32(halves[0], halves[1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_sub_epi16(_mm_xor_si128(quotient, sign), sign));
        // A whole number's bit length is its float's exponent less 126 (0 stays 0).
        const __m128i exponents =
            _mm_packs_epi32(_mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(halves[0])), 23),
                            _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(halves[1])), 23));
        const __m128i bitLengths = _mm_subs_epu16(exponents, _mm_set1_epi16(126));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lengths + i),
                         _mm_packus_epi16(bitLengths, bitLengths));
    }
#else
    for (std::size_t k = 0; k < DCTSIZE2; ++k)
    {
        const int value = in[k];
        float x = static_cast<float>(std::abs(value)) * m_from[k] + m_half[k];
        x = std::min(x, m_saturate[k]);
        const auto quotient = static_cast<int>(x * m_inverse[k] + kNudge);
        out[k] = static_cast<JCOEF>(value < 0 ? -quotient : quotient);
        lengths[k] = static_cast<std::uint8_t>(BitLength(quotient));
        if (quotient != 0)
            natural |= std::uint64_t{1} << k;
    }
#endif
    return natural;
}

void CountBlock(const JCOEF* block, int& lastDc, THuffmanCounts& counts)
{
    CountSymbols(
        block, NonzeroMask(block),
        [block](int k) { return BitLength(block[static_cast<std::size_t>(k)]); }, lastDc, counts);
}

void CountDummyBlock(THuffmanCounts& counts)
{
    ++counts.Dc[0];
    ++counts.Ac[0x00];
}

bool BuildHuffmanTable(std::array<long, 257>& freq, JHUFF_TBL& table)
{
    constexpr int kMaxLength = 32;
    std::array<int, kMaxLength + 1> bits{};
    std::array<int, 257> codeSize{};
    std::array<int, 257> others{};
    others.fill(-1);
    // The reserved symbol 256 takes the all-ones code of its length, which a JPEG may not use.
    freq[256] = 1;
    for (;;)
    {
        // The two least frequent symbols; among equals the last one, as libjpeg chooses.
        int c1 = -1;
        int c2 = -1;
        long v1 = 1000000000L;
        long v2 = 1000000000L;
        for (int i = 0; i <= 256; ++i)
        {
            const long f = freq[static_cast<std::size_t>(i)];
            if (f != 0 && f <= v1)
            {
                v1 = f;
                c1 = i;
            }
        }
        for (int i = 0; i <= 256; ++i)
        {
            const long f = freq[static_cast<std::size_t>(i)];
            if (f != 0 && f <= v2 && i != c1)
            {
                v2 = f;
                c2 = i;
            }
        }
        if (c2 < 0)
            break;
        freq[static_cast<std::size_t>(c1)] += freq[static_cast<std::size_t>(c2)];
        freq[static_cast<std::size_t>(c2)] = 0;
        ++codeSize[static_cast<std::size_t>(c1)];
        while (others[static_cast<std::size_t>(c1)] >= 0)
        {
            c1 = others[static_cast<std::size_t>(c1)];
            ++codeSize[static_cast<std::size_t>(c1)];
        }
        others[static_cast<std::size_t>(c1)] = c2;
        ++codeSize[static_cast<std::size_t>(c2)];
        while (others[static_cast<std::size_t>(c2)] >= 0)
        {
            c2 = others[static_cast<std::size_t>(c2)];
            ++codeSize[static_cast<std::size_t>(c2)];
        }
    }
    for (int size : codeSize)
    {
        if (size > kMaxLength)
            return false;
        if (size > 0)
            ++bits[static_cast<std::size_t>(size)];
    }
    // Codes longer than 16 bits are shortened by moving pairs up the tree.
    for (std::size_t i = kMaxLength; i > 16; --i)
        while (bits[i] > 0)
        {
            std::size_t j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    std::size_t longest = 16;
    while (bits[longest] == 0)
        --longest;
    --bits[longest]; // the reserved symbol's code
    for (std::size_t i = 0; i <= 16; ++i)
        table.bits[i] = static_cast<UINT8>(bits[i]);
    std::size_t p = 0;
    for (int length = 1; length <= kMaxLength; ++length)
        for (int symbol = 0; symbol <= 255; ++symbol)
            if (codeSize[static_cast<std::size_t>(symbol)] == length)
                table.huffval[p++] = static_cast<UINT8>(symbol);
    table.sent_table = FALSE;
    return true;
}
