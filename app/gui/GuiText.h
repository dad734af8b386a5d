#pragma once

#include <string>

#include <QString>

// Between the window's texts and the byte strings of the layers below.

// A path's bytes as the system names the file, shown as text; and back.
QString PathText(const std::string& path);
std::string PathBytes(const QString& path);
// A document property as the report takes it: in the system's narrow code page.
std::string NarrowText(const QString& text);
// A message or status of the layers below (in the narrow code page; paths as they are).
QString SystemText(const std::string& text);
