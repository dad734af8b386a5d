# What `cmake --install` puts where: the programs, the metafile helper, the help, the desktop
# entry, its icon and the AppStream data. The help is also copied beside the built programs, so
# the window finds it in the build tree as it does when installed.
include(GNUInstallDirs)

set(PICTOVA_APP_ID example.kestrom.Pictova)
# The metafile helper is no command for the PATH; the programs look for it in
# <their folder>/../lib/pictova.
set(PICTOVA_HELPER_DIR lib/pictova)

install(TARGETS pictova-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS pictova-metafile RUNTIME DESTINATION ${PICTOVA_HELPER_DIR})

file(GLOB PICTOVA_HELP_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/app/gui/help/*)
foreach(file IN LISTS PICTOVA_HELP_FILES)
    get_filename_component(name ${file} NAME)
    configure_file(${file} ${PROJECT_BINARY_DIR}/bin/help/${name} COPYONLY)
endforeach()
install(FILES ${PICTOVA_HELP_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/pictova/help)

# The window and what makes it a desktop application.
if(TARGET pictova)
    install(TARGETS pictova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${PICTOVA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${PICTOVA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${PROJECT_SOURCE_DIR}/app/gui/icons/pictova.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${PICTOVA_APP_ID}.svg)
endif()
