// The desktop window's tests: headless (the offscreen platform), with the settings in a
// temporary configuration folder.

#include <cstdlib>

#include <QApplication>

#include "tests/support/TestSupport.h"

int RunFileListWindowTests(int argc, char** argv);
int RunConvertWindowTests(int argc, char** argv);
int RunPreviewWindowTests(int argc, char** argv);
int RunSettingsWindowTests(int argc, char** argv);
int RunMainWindowTests(int argc, char** argv);

int main(int argc, char** argv)
{
    // Set before the first settings object reads the location.
    const TTempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    int failed = 0;
    failed += RunFileListWindowTests(argc, argv);
    failed += RunConvertWindowTests(argc, argv);
    failed += RunPreviewWindowTests(argc, argv);
    failed += RunSettingsWindowTests(argc, argv);
    failed += RunMainWindowTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
