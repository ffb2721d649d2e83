# Runs at install time: writes kavendo.desktop into the installed portable folder, with the
# folder's final path filled in where a desktop entry cannot do without one.
get_filename_component(folder "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)

# Icon is a plain string value, in which only the backslash is special.
string(REPLACE "\\" "\\\\" KAVENDO_ICON "${folder}/kavendo.png")

# The folder is a quoted Exec argument: inside the quotes \ " ` $ take a backslash, that
# backslash is escaped once more because the whole value is a string, and % starts a field code.
set(argument "${folder}")
string(REPLACE "\\" "\\\\\\\\" argument "${argument}")
string(REPLACE "\"" "\\\\\"" argument "${argument}")
string(REPLACE "`" "\\\\`" argument "${argument}")
string(REPLACE "$" "\\\\$" argument "${argument}")
string(REPLACE "%" "%%" argument "${argument}")

# The program is started from the folder that holds the entry (%k), so the folder can be moved
# as a whole; a copy of the entry kept elsewhere (a menu, the desktop) starts the program in
# the folder it was installed to.
set(KAVENDO_EXEC [=[sh -c "here=\\$(dirname \\"\\$1\\"); [ -n \\"\\$1\\" ] && [ -x \\"\\$here/kavendo\\" ] && exec \\"\\$here/kavendo\\"; exec \\"\\$0/kavendo\\""]=])
string(APPEND KAVENDO_EXEC " \"${argument}\" %k")

set(entry "$ENV{DESTDIR}${folder}/kavendo.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${KAVENDO_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
# File managers start only desktop entries that are executable.
file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
