// Linked into sanitizer builds of our executables: the leak checker reads this at start-up, so
// leaks inside the Debian libraries listed in tests/lsan.supp are suppressed however the program
// is started.
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" PICTOVA_LSAN_SUPPRESSIONS ":print_suppressions=0";
}
