#include "app/convert/SizeEstimate.h"

#include <cstdio>

#include <sys/stat.h>

#include "app/imaging/ImagePreparation.h"
#include "platform/Stream.h"

namespace
{

// Enough for thousands of pictures at every quality; beyond it the cache starts afresh.
constexpr std::size_t kMaxCachedSizes = 200'000;

} // namespace

std::optional<std::int64_t> TSizeEstimator::EncodedSize(const std::string& path, int quality)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const TKey key{path, quality, static_cast<std::int64_t>(info.st_size),
                   static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                       info.st_mtim.tv_nsec};
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (const auto found = m_sizes.find(key); found != m_sizes.end())
        {
            if (found->second < 0)
                return std::nullopt;
            return found->second;
        }
    }
    TMemoryStream stream;
    const bool converted = TryReencodeAsJpeg(path, quality, stream).empty();
    const std::int64_t size = converted ? stream.Size() : -1;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sizes.size() >= kMaxCachedSizes)
        m_sizes.clear();
    m_sizes[key] = size;
    if (size < 0)
        return std::nullopt;
    return size;
}

std::optional<std::int64_t> TSizeEstimator::Estimate(const std::vector<std::string>& paths,
                                                     int quality,
                                                     const std::atomic<bool>& cancelled,
                                                     const TProgress& progress)
{
    std::int64_t pages = 0;
    int done = 0;
    const auto count = static_cast<std::int64_t>(paths.size());
    for (const std::string& path : paths)
    {
        if (cancelled.load())
            return std::nullopt;
        if (const std::optional<std::int64_t> size = EncodedSize(path, quality))
            pages += *size + kPdfPageOverhead;
        ++done;
        if (progress)
            progress(done, kPdfDocumentOverhead + pages * count / done);
    }
    if (cancelled.load())
        return std::nullopt;
    return kPdfDocumentOverhead + pages;
}

std::string AboutSizeText(std::int64_t bytes)
{
    char text[64];
    const double value = static_cast<double>(bytes);
    if (bytes < 999'500)
        std::snprintf(text, sizeof text, "about %lld kB",
                      static_cast<long long>(bytes < 1000 ? 1 : (bytes + 500) / 1000));
    else if (bytes < 999'950'000)
        std::snprintf(text, sizeof text, "about %.1f MB", value / 1e6);
    else
        std::snprintf(text, sizeof text, "about %.2f GB", value / 1e9);
    return text;
}
