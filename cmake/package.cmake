# The packages CPack makes from the install rules: on Linux a Debian package
# (make package: build/zemlik_<version>_<arch>.deb), for Windows a ZIP of the program
# folder (make package-windows: build-mingw/zemlik-<version>-win64.zip). All that
# CPack is told is here.
set(ZEMLIK_PACKAGE_MAINTAINER "Zemlik developers <zemlik@users.noreply.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME zemlik)
# All four parts: CPack would otherwise drop the fourth.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zemlik developers")
set(CPACK_PACKAGE_CONTACT "${ZEMLIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "store a month's book-release list as a CSV file")
# Lines of at most 80 characters, as Debian wants them in the extended description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Zemlik fetches a Japanese bookshop's monthly comic or paperback release-list"
  "page, or a monthly booklist, and stores it as a CSV file in code page 932 with"
  "CR LF line ends, as it did on the Windows CE handhelds it was written for."
  "It is started with arguments, does one job and ends with an exit status, so"
  "it suits cron.")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from dpkg-shlibdeps on the stripped binary: libc, libstdc++, libcurl.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_ZEMLIK_DEBIAN_DIR "${CMAKE_CURRENT_LIST_DIR}/debian")
  set(CPACK_ZEMLIK_STRIP "${CMAKE_STRIP}")
  set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/debian/stage.cmake")
endif()

include(CPack)
