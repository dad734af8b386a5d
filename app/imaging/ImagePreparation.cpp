#include "app/imaging/ImagePreparation.h"

#include <new>

#include "app/imaging/GdiPlus.h"
#include "platform/Stream.h"

namespace
{

// The stream from a position on, as it was before a write, so that a write that fails partway
// can be undone: the bytes it may have overwritten, the size and the position.
class TStreamRestorePoint
{
public:
    explicit TStreamRestorePoint(TStream& stream)
        : m_stream(stream), m_position(stream.Position()), m_size(stream.Size())
    {
        if (m_position < m_size)
        {
            m_tail.resize(static_cast<std::size_t>(m_size - m_position));
            m_tail.resize(m_stream.Read(m_tail.data(), m_tail.size()));
            m_stream.SetPosition(m_position);
        }
    }

    // Best effort: a stream that refuses this too is left as the failed write left it.
    void Restore() noexcept
    {
        try
        {
            m_stream.SetPosition(m_position);
            m_stream.Write(m_tail);
            m_stream.SetSize(m_size);
            m_stream.SetPosition(m_position);
        }
        catch (const std::exception&)
        {
        }
    }

private:
    TStream& m_stream;
    std::int64_t m_position;
    std::int64_t m_size;
    std::string m_tail;
};

} // namespace

std::string TryReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream)
{
    try
    {
        TGPImage image(fileName);
        if (image.LastStatus() != gsOk)
            return image.LastReason();
        std::int32_t value = quality;
        EncoderParameters parameters;
        parameters.Count = 1;
        parameters.Parameter[0] = {EncoderQuality, 1, EncoderParameterValueTypeLong, &value};
        CLSID clsid;
        if (FindEncoderClsid("image/jpeg", clsid) < 0)
            return "no JPEG encoder";
        TStreamRestorePoint before(stream);
        if (image.Save(stream, clsid, &parameters) != gsOk)
        {
            before.Restore();
            return image.LastReason();
        }
        return "";
    }
    catch (const std::bad_alloc&)
    {
        return "out of memory";
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    catch (...)
    {
        return "unknown failure";
    }
}

void ReencodeAsJpeg(const std::string& fileName, int quality, TStream& stream)
{
    TryReencodeAsJpeg(fileName, quality, stream);
}
