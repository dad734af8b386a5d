#pragma once

#include <string>

#include "pdf/PdfTypes.h"

// The bytes of an object's own syntax: its body when numbered, its in-place form otherwise (a
// reference for a proxy).
inline std::string Inline(const TPdfObject& object)
{
    TMemoryStream stream;
    if (object.ObjectKind() == okIndirect)
    {
        object.WriteBody(stream);
    }
    else
    {
        object.WriteInline(stream);
    }
    return stream.Bytes();
}
