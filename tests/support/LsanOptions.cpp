// Linked into every test executable: the leak checker reads this at start-up in sanitizer builds
// (unused otherwise), so leaks inside Debian libraries listed in tests/lsan.supp are suppressed
// however the test is started.
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options()
{
    return "suppressions=" PICTOVA_LSAN_SUPPRESSIONS;
}
