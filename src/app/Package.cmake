# The Debian package: the system layout of Install.cmake under /usr, made by ./package (cpack in
# the build folder) as kavendo_<version>_amd64.deb.
set(KAVENDO_MAINTAINER "${KAVENDO_COMPANY_NAME} <maintainers@kavendo.invalid>" CACHE STRING
    "The package's Maintainer: a name and a mail address")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavendo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${KAVENDO_COMPANY_NAME})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};system;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KAVENDO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows need a Chinese font, which a desktop without Chinese may lack.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming | fonts-noto-cjk")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "children learn short classical Chinese poems")
set(CPACK_PACKAGE_DESCRIPTION
"Kavendo shows one short classical Chinese poem at a time in large characters
and reads it aloud from a recording; continuous reading reads the whole
library as many times as asked. A parent or teacher adds poems, records them
with the microphone and deletes them. The windows are in Simplified Chinese.
.
Each user's library lives in ~/.local/share/kavendo; ten Tang poems with
recordings are put there the first time.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KAVENDO_HOMEPAGE})

include(CPack)
