#include "app/gui/GuiText.h"

#include <QFile>

#include "platform/Services.h"

QString PathText(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string PathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::string NarrowText(const QString& text)
{
    return CodePage().FromUtf16(text.toStdU16String());
}

QString SystemText(const std::string& text)
{
    return QString::fromLocal8Bit(text);
}
