#include "pdf/PdfXref.h"

#include <gtest/gtest.h>

namespace
{

std::string Written(const TPdfXref& xref)
{
    TMemoryStream stream;
    xref.WriteToStream(stream);
    return stream.Bytes();
}

TEST(PdfXref, FreshTableHasOnlyTheFreeEntry)
{
    TPdfXref xref;
    EXPECT_EQ(xref.ItemCount(), 1);
    EXPECT_EQ(xref.ObjectAt(0), nullptr);
    EXPECT_EQ(xref.Item(0).EntryType(), "f");
    EXPECT_EQ(xref.Item(0).GenerationNumber(), 65535);
    EXPECT_EQ(Written(xref), "xref\r\n0 1\r\n0000000000 65535 f\r\n");
}

TEST(PdfXref, NumbersObjectsInOrderAndRefusesNumberedOnes)
{
    TPdfXref xref;
    auto& first = xref.Add(std::make_unique<TPdfNull>());
    auto& second = xref.Add(std::make_unique<TPdfNull>());
    EXPECT_EQ(first.ObjectNumber(), 1);
    EXPECT_EQ(second.ObjectNumber(), 2);
    EXPECT_EQ(xref.ObjectAt(2), &second);
    EXPECT_THROW(xref.ObjectAt(3), std::out_of_range);

    auto proxy = TPdfVirtualObject::CreateVirtual(1);
    std::unique_ptr<TPdfObject> object(std::move(proxy));
    try
    {
        xref.AddObject(std::move(object));
        FAIL() << "no exception";
    }
    catch (const EPdfInvalidOperation& e)
    {
        EXPECT_STREQ(e.what(), "AddObject --wrong object type.");
    }
    // Refused objects stay with the caller.
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(xref.ItemCount(), 3);
}

TEST(PdfXref, AddLeavesARefusedObjectWithTheCaller)
{
    TPdfXref xref;
    std::unique_ptr<TPdfVirtualObject> proxy = TPdfVirtualObject::CreateVirtual(1);
    TPdfVirtualObject* const held = proxy.get();
    try
    {
        xref.Add(std::move(proxy));
        FAIL() << "no exception";
    }
    catch (const EPdfInvalidOperation& e)
    {
        EXPECT_STREQ(e.what(), "AddObject --wrong object type.");
    }
    EXPECT_EQ(proxy.get(), held);
    EXPECT_EQ(proxy->ObjectNumber(), 1);
    EXPECT_EQ(xref.ItemCount(), 1);

    EXPECT_THROW(xref.Add(std::unique_ptr<TPdfNull>()), EPdfInvalidOperation);
    EXPECT_EQ(xref.ItemCount(), 1);
}

TEST(PdfXref, EntryLinesAreTwentyBytesWithTenDigitOffsets)
{
    TPdfXref xref;
    xref.Add(std::make_unique<TPdfNull>());
    xref.Item(1).SetByteOffset(1234);
    EXPECT_EQ(xref.Item(1).AsString(), "0000001234 00000 n");
    EXPECT_EQ(Written(xref), "xref\r\n0 2\r\n0000000000 65535 f\r\n0000001234 00000 n\r\n");
    xref.Item(1).SetByteOffset(9'999'999'999);
    EXPECT_EQ(xref.Item(1).AsString(), "9999999999 00000 n");
}

TEST(PdfXref, PadNumberPadsButNeverCuts)
{
    EXPECT_EQ(PadNumber(-1, 10), "0000000000");
    EXPECT_EQ(PadNumber(42, 5), "00042");
    EXPECT_EQ(PadNumber(123456, 3), "123456");
    EXPECT_EQ(PadNumber(3'221'225'483, 10), "3221225483");
}

TEST(PdfFileParts, HeaderAndTrailerBytes)
{
    TMemoryStream header;
    TPdfHeader().WriteToStream(header);
    EXPECT_EQ(header.Bytes(), "%PDF-1.2 \r\n");

    TPdfXref xref;
    auto& catalog = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    TPdfTrailer trailer(&xref);
    trailer.Attributes().Put("Root", catalog);
    trailer.Attributes().LookupNumber("Size")->SetValue(2);
    trailer.SetXrefAddress(4'294'967'296);
    TMemoryStream out;
    trailer.WriteToStream(out);
    EXPECT_EQ(out.Bytes(), "trailer\r\n<<\r\n/Size 2\r\n/Root 1 0 R\r\n>>\r\nstartxref\r\n"
                           "4294967296\r\n%%EOF\r\n");
}

} // namespace
