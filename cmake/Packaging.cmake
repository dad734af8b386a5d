# `cpack -G DEB` in a build folder makes the Debian package of what Install.cmake installs.
# Its dependencies come from the libraries the programs link (dpkg-shlibdeps), plus what is
# loaded at run time and so invisible to it.
set(CPACK_PACKAGE_NAME pictova)
set(CPACK_PACKAGE_VENDOR Kestrom)
set(CPACK_PACKAGE_CONTACT "Kestrom <support@kestrom.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turn pictures into one PDF, one page per picture")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrom Pictova gathers GIF, PNG, JPEG, BMP, ICO, EMF, WMF and TIFF pictures into an ordered list and turns them into one PDF: one page per picture, each page as large as its picture, every picture encoded as JPEG at the chosen quality, with the document properties filled in. It has a desktop window (pictova) and a command-line converter (pictova-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build folder; the package carries stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.kestrom.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no linked library names: the fonts libwmf draws WMF text with (only recommended by it,
# and without any font it draws nothing at all), and the window's icons, which Qt's SVG icon
# engine draws, a plug-in. (gdk-pixbuf's BMP and ICO loaders come with the library itself.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-urw-base35")
if(TARGET pictova)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6")
endif()
include(CPack)
