#pragma once

// The EMF record types the metafile code reads or rewrites, named once for every file of it.

#include <cstdint>
#include <vector>

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrSetWindowExtEx = 9;
constexpr std::uint32_t kEmrSetWindowOrgEx = 10;
constexpr std::uint32_t kEmrSetViewportExtEx = 11;
constexpr std::uint32_t kEmrSetViewportOrgEx = 12;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrSetMapMode = 17;
constexpr std::uint32_t kEmrSetBkMode = 18;
constexpr std::uint32_t kEmrSetPolyFillMode = 19;
constexpr std::uint32_t kEmrSetTextColor = 24;
constexpr std::uint32_t kEmrSetBkColor = 25;
constexpr std::uint32_t kEmrSaveDc = 33;
constexpr std::uint32_t kEmrRestoreDc = 34;
constexpr std::uint32_t kEmrSetWorldTransform = 35;
constexpr std::uint32_t kEmrModifyWorldTransform = 36;
constexpr std::uint32_t kEmrSelectObject = 37;
constexpr std::uint32_t kEmrCreatePen = 38;
constexpr std::uint32_t kEmrCreateBrushIndirect = 39;
constexpr std::uint32_t kEmrDeleteObject = 40;
constexpr std::uint32_t kEmrBeginPath = 59;
constexpr std::uint32_t kEmrEndPath = 60;
constexpr std::uint32_t kEmrAbortPath = 68;
constexpr std::uint32_t kEmrComment = 70;
constexpr std::uint32_t kEmrBitBlt = 76;
constexpr std::uint32_t kEmrStretchBlt = 77;
constexpr std::uint32_t kEmrStretchDibits = 81;
constexpr std::uint32_t kEmrExtCreatePen = 95;

// The identifier of an EMR_COMMENT that holds EMF+ records ("EMF+").
constexpr std::uint32_t kEmfPlusIdentifier = 0x2B464D45;

// The state EMR_RESTOREDC brings back: level is so many states back when negative, else that
// saved state (counted from 1). The state is taken from saved, which keeps those saved before
// it; false, with nothing changed, for a level that names no saved state.
template <class T>
bool RestoreSaved(std::vector<T>& saved, std::uint32_t level, T& state)
{
    const auto signedLevel = static_cast<std::int32_t>(level);
    const std::int64_t keep = signedLevel < 0
                                  ? static_cast<std::int64_t>(saved.size()) + signedLevel
                                  : static_cast<std::int64_t>(signedLevel) - 1;
    if (keep < 0 || keep >= static_cast<std::int64_t>(saved.size()))
        return false;
    state = saved[static_cast<std::size_t>(keep)];
    saved.resize(static_cast<std::size_t>(keep));
    return true;
}
