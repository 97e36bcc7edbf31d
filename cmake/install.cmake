# What `cmake --install` puts in place: the program, its manual page and the README,
# in the GNU layout under the prefix. Nothing else: the folder libraries and the test
# programs are build products only.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # One flat program folder: zemlik.exe beside the README and the notices of the
  # runtime linked statically into it. Windows has no manual pages.
  install(TARGETS zemlik RUNTIME DESTINATION .)
  install(FILES README.md docs/third-party-licences-windows.txt DESTINATION .)
else()
  install(TARGETS zemlik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES docs/zemlik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
