#pragma once

#include <QIcon>

// One of the program's own icons (":/icons/<name>.svg"); an empty icon while the build has none.
QIcon AppIcon(const char* name);
