#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What size the PDF of a list of pictures will have at a quality, before it is made: every
// picture is re-encoded by the same encoder as the conversion, and the writer's overhead per
// page and per document is added. Encoded sizes are kept per file and quality (a file that
// changed on disk is encoded again), so moving the quality slider back and forth costs nothing.
class TSizeEstimator
{
public:
    // Called after each picture: pictures done so far and the estimate extrapolated from them.
    using TProgress = std::function<void(int done, std::int64_t extrapolated)>;

    // The estimated size in bytes of the PDF; pictures that do not convert are left out, as the
    // conversion leaves them out. Nothing when cancelled is set (read between pictures). Thread
    // safe: one estimator may serve several threads.
    std::optional<std::int64_t> Estimate(const std::vector<std::string>& paths, int quality,
                                         const std::atomic<bool>& cancelled,
                                         const TProgress& progress = {});

    // The JPEG size of one picture at the quality; nothing when it does not convert.
    std::optional<std::int64_t> EncodedSize(const std::string& path, int quality);

private:
    struct TKey
    {
        std::string Path;
        int Quality = 0;
        std::int64_t FileSize = 0;
        std::int64_t Modified = 0; // nanoseconds
        auto operator<=>(const TKey&) const = default;
    };

    std::mutex m_mutex;
    std::map<TKey, std::int64_t> m_sizes; // -1: does not convert
};

// The writer's bytes beside the pictures' own: the document's frame (header, catalog, page
// tree, info, cross-reference table, trailer) and each page's objects.
inline constexpr std::int64_t kPdfDocumentOverhead = 880;
inline constexpr std::int64_t kPdfPageOverhead = 695;

// "about 12.4 MB": decimal units, as file managers show sizes.
std::string AboutSizeText(std::int64_t bytes);
