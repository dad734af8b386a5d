#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "pdf/PdfDoc.h"
#include "platform/Services.h"
#include "report/PReport.h"
#include "tests/support/TestSupport.h"

// A real JPEG file of the given size (grey-blue gradient), made with TurboJPEG.
inline std::string MakeJpeg(int width, int height)
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < pixels.size(); ++i)
    {
        pixels[i] = static_cast<unsigned char>(i % 3 == 2 ? 200 : (i / 3) % 256);
    }
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle, pixels.data(), width, 0, height, TJPF_RGB, &out, &size,
                                   TJSAMP_420, 75, 0);
    std::string bytes;
    if (status == 0)
    {
        bytes.assign(reinterpret_cast<const char*>(out), size);
    }
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

inline std::unique_ptr<TJPEGImage> MakeJpegImage(int width, int height)
{
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->SetData(MakeJpeg(width, height));
    return jpeg;
}

// The body of object number in a written file: between "n 0 obj\r\n" and "\r\nendobj\r\n".
inline std::string ObjectBody(const std::string& pdf, int number)
{
    const std::string head = "\r\n" + std::to_string(number) + " 0 obj\r\n";
    const std::size_t start = pdf.find(head);
    if (start == std::string::npos)
    {
        return "<no object " + std::to_string(number) + ">";
    }
    const std::size_t from = start + head.size();
    return pdf.substr(from, pdf.find("\r\nendobj\r\n", from) - from);
}

// The data of a stream object's body.
inline std::string StreamData(const std::string& body)
{
    const std::size_t start = body.find("\r\nstream\r\n");
    const std::size_t end = body.rfind("\nendstream");
    if (start == std::string::npos || end == std::string::npos)
    {
        return "<no stream>";
    }
    return body.substr(start + 10, end - start - 10);
}

// Prints page onto a new page of the open doc, as the report does; returns the page's content.
inline std::string PrintOnto(TPdfDoc& doc, TPRPage& page)
{
    doc.AddPage();
    TPRCanvas canvas;
    canvas.SetPdfCanvas(doc.GetCanvas());
    page.Print(canvas);
    return doc.GetCanvas()->Contents()->Data().Bytes();
}

// A random generator that answers from a script (the last value repeats) and records the
// ranges asked for.
class TScriptedRandom : public IRandom
{
public:
    explicit TScriptedRandom(std::vector<std::int32_t> values) : m_values(std::move(values)) {}
    void Seed(std::uint32_t) override {}
    void Randomize() override {}
    std::int32_t Next(std::int32_t range) override
    {
        Ranges.push_back(range);
        const std::size_t i = std::min(m_next++, m_values.size() - 1);
        return m_values[i];
    }
    std::vector<std::int32_t> Ranges;

private:
    std::vector<std::int32_t> m_values;
    std::size_t m_next = 0;
};
