#include "app/gui/Icons.h"

#include <QFile>

// Resources of a static library are registered by hand: nothing else would pull them in.
static void RegisterIcons()
{
#ifdef PICTOVA_HAVE_ICONS
    Q_INIT_RESOURCE(icons);
#endif
}

QIcon AppIcon(const char* name)
{
    static const bool registered = (RegisterIcons(), true);
    (void)registered;
    const QString path =
        QStringLiteral(":/icons/") + QString::fromLatin1(name) + QStringLiteral(".svg");
    return QFile::exists(path) ? QIcon(path) : QIcon();
}
