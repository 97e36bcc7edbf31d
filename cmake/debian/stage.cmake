# CPack runs this on the staged tree of the Debian package, after the install rules
# and before the archive is made. Debian wants the programs stripped as dh_strip does
# it (symbols and the compiler's .comment gone), the manual page and the changelog
# compressed with gzip -9n (no name or time stamp, so the bytes are reproducible) and
# the copyright file in the package's doc folder.
set(_root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(_doc "${_root}/share/doc/${CPACK_PACKAGE_NAME}")

# The changelog's newest entry names the version it describes.
file(STRINGS "${CPACK_ZEMLIK_DEBIAN_DIR}/changelog" _top LIMIT_COUNT 1)
if(NOT _top MATCHES "^${CPACK_PACKAGE_NAME} \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog begins with \"${_top}\": add an entry for "
                      "version ${CPACK_PACKAGE_VERSION} at the top")
endif()

file(GLOB _programs "${_root}/bin/*")
foreach(_file IN LISTS _programs)
  execute_process(COMMAND "${CPACK_ZEMLIK_STRIP}" --remove-section=.comment --remove-section=.note
                          --strip-unneeded "${_file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(COPY "${CPACK_ZEMLIK_DEBIAN_DIR}/copyright" DESTINATION "${_doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY "${CPACK_ZEMLIK_DEBIAN_DIR}/changelog" DESTINATION "${_doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB _pages "${_root}/share/man/man*/*")
foreach(_file IN LISTS _pages ITEMS "${_doc}/changelog")
  execute_process(COMMAND gzip -9nf "${_file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
