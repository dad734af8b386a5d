#include <cstdlib>
#include <cstring>
#include <iostream>

#include <langinfo.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/cli/CancelSignals.h"
#include "app/cli/Cli.h"
#include "app/imaging/JpegEncoder.h"
#include "app/imaging/JpegTranscoder.h"
#include "platform/Services.h"

int main(int argc, char** argv)
{
    // Every large picture allocates buffers of tens of megabytes (pixels, coefficient arrays)
    // and frees them again. Left to mmap, each one is handed back to the system and faulted
    // in and cleared page by page for the next picture, which cost a tenth of the time of a
    // run of photos; kept in the heap they are reused. The peak stays what it was.
    constexpr int kReusedBytes = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, kReusedBytes);
    mallopt(M_TRIM_THRESHOLD, kReusedBytes);
    const ICodePage& codePage = SelectCodePageFromLocale();
    InstallCancelHandlers();
    // For the benchmark: every JPEG through the pixel path, as before the DCT path existed,
    // and the standard Huffman tables instead of optimised ones.
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && std::strcmp(value, "1") == 0;
    };
    if (isSet("PICTOVA_PIXEL_PATH"))
        SetJpegRequantizing(false);
    if (isSet("PICTOVA_STANDARD_HUFFMAN"))
        SetJpegHuffmanOptimised(false);

    winsize size{};
    const bool errIsTerminal = isatty(STDERR_FILENO) == 1;
    const int width =
        errIsTerminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
            ? size.ws_col
            : 80;
    const TCliContext context{std::cout, std::cerr,    errIsTerminal, width, nl_langinfo(CODESET),
                              &codePage, &CancelFlag()};
    const int status = RunCli(argc, argv, context);
    std::cout.flush();
    return status;
}
