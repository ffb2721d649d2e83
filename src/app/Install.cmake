# Kavendo installs in one of two ways, each a component of the same install rules:
#
#  - portable (the default): one folder holding the program, its icon and a desktop entry that
#    finds the program beside itself. The poem library Kavendo.dbf and the sound folder belong
#    beside the program, so the folder goes where its user can write, for example
#      cmake --install build --prefix ~/Kavendo
#  - system: the layout of a Debian desktop program under a prefix such as /usr, as the package
#    that ./package builds holds it. The program there keeps each user's library in the user's
#    own data folder and puts the demo library from share/kavendo/demo there the first time.
#
# Included from the top-level CMakeLists.txt once every target exists.
include(GNUInstallDirs)

set(kavendo_install_dir ${CMAKE_CURRENT_LIST_DIR}/install)
set(kavendo_images_dir ${CMAKE_CURRENT_LIST_DIR}/images)
set(KAVENDO_NAME ${PROJECT_NAME})
set(KAVENDO_VERSION ${PROJECT_VERSION})

# Portable folder.
install(TARGETS kavendo RUNTIME DESTINATION . COMPONENT portable)
install(FILES ${kavendo_images_dir}/kavendo-256.png DESTINATION . RENAME kavendo.png
        COMPONENT portable)
install(CODE "set(KAVENDO_DESKTOP_TEMPLATE [[${kavendo_install_dir}/kavendo.desktop.in]])
              set(KAVENDO_NAME [[${KAVENDO_NAME}]])
              set(KAVENDO_VERSION [[${KAVENDO_VERSION}]])"
        COMPONENT portable)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/WriteDesktopEntry.cmake COMPONENT portable)

# A software centre shows the program's home page and the README's screenshots only from the
# web, so the AppStream file names them only when the build is told where they are published.
set(KAVENDO_HOMEPAGE "" CACHE STRING
    "Web address where README.md and docs/ are published, for example https://example.org/kavendo")
set(KAVENDO_WEB_METAINFO "")
if(KAVENDO_HOMEPAGE)
    string(APPEND KAVENDO_WEB_METAINFO
        "  <url type=\"homepage\">${KAVENDO_HOMEPAGE}</url>\n  <screenshots>\n")
    foreach(shot "main-window|The main window|主窗口" "maintenance|Adding a poem|系统维护"
                 "splash|The splash window|启动画面")
        string(REPLACE "|" ";" shot "${shot}")
        list(GET shot 0 file)
        list(GET shot 1 caption)
        list(GET shot 2 chinese)
        set(type "")
        if(file STREQUAL "main-window")
            set(type " type=\"default\"")
        endif()
        string(APPEND KAVENDO_WEB_METAINFO
            "    <screenshot${type}>\n"
            "      <caption>${caption}</caption>\n"
            "      <caption xml:lang=\"zh-CN\">${chinese}</caption>\n"
            "      <image>${KAVENDO_HOMEPAGE}/docs/${file}.png</image>\n"
            "    </screenshot>\n")
    endforeach()
    string(APPEND KAVENDO_WEB_METAINFO "  </screenshots>")
endif()

# System layout. Nothing here is installed unless asked for by name (cmake --install build
# --component system, or ./package).
set(system_files ${CMAKE_BINARY_DIR}/system-install)
set(KAVENDO_EXEC kavendo)
set(KAVENDO_ICON kavendo)
configure_file(${kavendo_install_dir}/kavendo.desktop.in
               ${system_files}/${KAVENDO_APP_ID}.desktop @ONLY)
configure_file(${kavendo_install_dir}/kavendo.metainfo.xml.in
               ${system_files}/${KAVENDO_APP_ID}.metainfo.xml @ONLY)
configure_file(${kavendo_install_dir}/kavendo.1.in ${system_files}/kavendo.1 @ONLY)
# Manual pages and the changelog are read compressed; -n keeps the build's time out of them.
add_custom_command(
    OUTPUT ${system_files}/kavendo.1.gz ${system_files}/changelog.gz
    COMMAND gzip -9nc ${system_files}/kavendo.1 > ${system_files}/kavendo.1.gz
    COMMAND gzip -9nc ${kavendo_install_dir}/changelog > ${system_files}/changelog.gz
    DEPENDS ${system_files}/kavendo.1 ${kavendo_install_dir}/changelog
    VERBATIM)
add_custom_target(kavendo_system_files ALL
    DEPENDS ${system_files}/kavendo.1.gz ${system_files}/changelog.gz)

install(TARGETS kavendo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${system_files}/${KAVENDO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${system_files}/${KAVENDO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT system EXCLUDE_FROM_ALL)
foreach(size 16 32 48 64 128 256)
    install(FILES ${kavendo_images_dir}/kavendo-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kavendo.png COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${kavendo_images_dir}/kavendo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT system EXCLUDE_FROM_ALL)
install(DIRECTORY ${KAVENDO_DEMO_FOLDER}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kavendo/demo
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${system_files}/kavendo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${system_files}/changelog.gz ${kavendo_install_dir}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kavendo COMPONENT system EXCLUDE_FROM_ALL)
