# What `cmake --install` puts where, and the Debian package `cpack -G DEB` builds from it:
# the programs in sbin (they run jobs for the agent, as root; fsproxyclient lies beside fsweep,
# where proxy-client jobs look for it by default), libFileScan with its XML and proxy plug-ins in
# a private library folder (nothing else links them), the man pages and the documentation.
set(FSWEEP_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/fsweep)

# The programs find the library beside their own prefix, wherever the tree was unpacked.
cmake_path(RELATIVE_PATH FSWEEP_PRIVATE_LIBDIR BASE_DIRECTORY ${CMAKE_INSTALL_SBINDIR} OUTPUT_VARIABLE fsweep_lib_from_sbin)
set_target_properties(fsweep fsbackup PROPERTIES INSTALL_RPATH "$ORIGIN/${fsweep_lib_from_sbin}")
set_target_properties(FileScanXml PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS fsweep fsbackup fsproxyclient fsjournald RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
# The change-journal daemon runs per instance under systemd (fsjournald@<instance>).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/fsjournald@.service DESTINATION lib/systemd/system)
install(TARGETS FileScan FileScanXml ClProxy LIBRARY DESTINATION ${FSWEEP_PRIVATE_LIBDIR})

foreach(page fsweep.8 fsbackup.8 fsjournald.8 fsweep-instance.5)
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")

set(CPACK_PACKAGE_NAME fsweep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "fsweep developers <fsweep@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scan phase of a Linux file-system backup agent")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps reads the libraries the programs and libFileScan link (libc, libstdc++,
# SQLite, Xerces) and writes the Depends line.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${FSWEEP_PRIVATE_LIBDIR})
set(CPACK_STRIP_FILES ON)
include(CPack)
