// The desktop program: the main window with the About window, and the pictures named on the
// command line in the list (so a file manager's "Open with" works).

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QFileInfo>
#include <QUrl>

#include "app/gui/Addresses.h"
#include "app/gui/Dialogs.h"
#include "app/gui/Form1.h"
#include "app/gui/GuiText.h"
#include "app/gui/Icons.h"
#include "platform/Services.h"

namespace
{

constexpr const char* kUsage =
    "Usage: pictova [PICTURE...]\n"
    "Kestrom Pictova: gathers pictures into an ordered list and turns them into one PDF, one\n"
    "page per picture, each page as large as its picture.\n"
    "\n"
    "Pictures named here (GIF, PNG, JPEG, BMP, ICO, EMF, WMF, TIFF) start in the list.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Settings saved with \"Save setting\" live in $XDG_CONFIG_HOME/kestrom/pictova.conf\n"
    "(~/.config when unset). pictova-cli converts without a window.\n";

// --help and --version answer before anything needs a display. Returns the exit status, or -1
// to go on.
int AnswerWithoutDisplay(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0)
        {
            std::printf("pictova %s\n", PICTOVA_VERSION);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = AnswerWithoutDisplay(argc, argv); status >= 0)
        return status;
    SelectCodePageFromLocale();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pictova"));
    QApplication::setApplicationVersion(QStringLiteral(PICTOVA_VERSION));
    QApplication::setWindowIcon(AppIcon("pictova"));
    // Ties the window to the installed desktop entry (its icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kestrom.Pictova"));

    // Qt took its own options out; what is left are pictures (paths or file: addresses).
    std::vector<std::string> pictures;
    bool options = true;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
    {
        const QString& argument = arguments[i];
        if (options && argument == QStringLiteral("--"))
        {
            options = false;
            continue;
        }
        if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
        {
            std::fprintf(stderr, "pictova: unknown option %s\nTry 'pictova --help'.\n",
                         argument.toLocal8Bit().constData());
            return 2;
        }
        const QString path = argument.startsWith(QStringLiteral("file:"))
                                 ? QUrl(argument).toLocalFile()
                                 : QFileInfo(argument).absoluteFilePath();
        pictures.push_back(PathBytes(path));
    }

    TQtDialogs dialogs;
    TForm1 form1(dialogs);
    form1.AddDroppedFiles(pictures);
    form1.show();
    return QApplication::exec();
}
