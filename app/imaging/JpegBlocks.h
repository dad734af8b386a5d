#pragma once

// The per-block arithmetic of the DCT path, kept apart so that it can be checked on its own:
// requantizing a block of coefficients, counting the Huffman symbols a baseline encoder will
// write for it, and building optimal Huffman tables from those counts.

#include <array>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE

#include <jpeglib.h>

// Rescales the coefficients of a block (natural order) from one quantiser to another, per
// frequency: the nearest whole value, halves toward zero, at most 1023 in magnitude (what an
// 8-bit baseline file can code). The target's quantisers must lie in 1..255, as baseline
// tables do; the source's in 1..65535.
struct THuffmanCounts;

class TRequantTable
{
public:
    TRequantTable(const std::uint16_t* from, const std::uint16_t* to);
    void Apply(const JCOEF* in, JCOEF* out) const;

    // Apply, then CountBlock on the result, in one pass over the block (in and out may be the
    // same block): the same coefficients and counts to the bit, for less work.
    void ApplyAndCount(const JCOEF* in, JCOEF* out, int& lastDc, THuffmanCounts& counts) const;

private:
    // Apply; returns the mask of the coefficients (natural order) that are not 0, and their
    // bit lengths in lengths (the others are left undefined).
    std::uint64_t Requantize(const JCOEF* in, JCOEF* out, std::uint8_t* lengths) const;

    alignas(16) std::array<float, DCTSIZE2> m_from{};
    alignas(16) std::array<float, DCTSIZE2> m_half{};
    alignas(16) std::array<float, DCTSIZE2> m_saturate{};
    alignas(16) std::array<float, DCTSIZE2> m_inverse{};
    // The coefficients above the first or below the second requantize to something else
    // than 0.
    alignas(16) std::array<std::int16_t, DCTSIZE2> m_nonzeroAbove{};
    alignas(16) std::array<std::int16_t, DCTSIZE2> m_nonzeroBelow{};
};

// Symbol counts of one Huffman table pair (DC and AC), for building optimal tables. Index 256
// is the reserved symbol the table builder needs.
struct THuffmanCounts
{
    std::array<long, 257> Dc{};
    std::array<long, 257> Ac{};
};

// Counts the symbols of one block (natural order) as a baseline sequential encoder writes it:
// the DC difference to lastDc (then updated) and the AC run/size symbols with ZRL and EOB.
void CountBlock(const JCOEF* block, int& lastDc, THuffmanCounts& counts);

// A dummy block at the edge of an MCU: DC equal to the previous block's, no AC.
void CountDummyBlock(THuffmanCounts& counts);

// The optimal code lengths for the counts, at most 16 bits long, as the JPEG standard's
// Annex K.2 builds them; every symbol counted gets a code. counts is used up. False (and the
// table untouched) for counts so skewed that a code would need more than 32 bits before
// shortening.
bool BuildHuffmanTable(std::array<long, 257>& counts, JHUFF_TBL& table);
