# Kavendo installs as one portable folder: the program, its icon and its desktop entry side by
# side. The poem library Kavendo.dbf and the sound folder belong beside the program, so the
# folder goes where its user can write, for example
#   cmake --install build --prefix ~/Kavendo
# Included from the top-level CMakeLists.txt once every target exists.
if(TARGET kavendo)
    install(TARGETS kavendo RUNTIME DESTINATION .)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/images/kavendo-32.xpm DESTINATION . RENAME kavendo.xpm)
install(CODE "set(KAVENDO_DESKTOP_TEMPLATE [[${CMAKE_CURRENT_LIST_DIR}/kavendo.desktop.in]])
              set(KAVENDO_NAME [[${PROJECT_NAME}]])
              set(KAVENDO_VERSION [[${PROJECT_VERSION}]])")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/WriteDesktopEntry.cmake)
