#include "pdf/PdfFont.h"

#include <utility>

TPdfFont::TPdfFont(TPdfObjectMgr&, std::string name) : m_name(std::move(name)) {}

int TPdfFont::GetCharWidth(std::string_view, int) const
{
    return 0;
}
