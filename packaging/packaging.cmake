# Installation beyond the programs (their install() lines sit in src/) and the Debian package.
# Included last from the top-level CMakeLists.txt, so that CPack sees every install() rule.

set(_trenn_man_dir ${CMAKE_BINARY_DIR}/packaging/man)
configure_file(${CMAKE_CURRENT_LIST_DIR}/trenn-inspect.1 ${_trenn_man_dir}/trenn-inspect.1 @ONLY)
install(FILES ${_trenn_man_dir}/trenn-inspect.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TRENN_WITH_QT)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/trenn.1 ${_trenn_man_dir}/trenn.1 @ONLY)
  install(FILES ${_trenn_man_dir}/trenn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/trenn.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The same artwork the window uses, under the name the desktop entry's Icon= asks for.
  foreach(_size 16 32 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/trenn_${_size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME trenn.png)
  endforeach()
endif()

# Installed programs find Qt in the system's library folders; the $ORIGIN RPATH that the Qt
# project setup gives them would only make the loader search /usr/bin and /usr/lib first.
foreach(_program trenn trenn-inspect)
  if(TARGET ${_program})
    set_target_properties(${_program} PROPERTIES INSTALL_RPATH "")
  endif()
endforeach()

set(TRENN_PACKAGE_MAINTAINER "Trenn developers <trenn@example.org>" CACHE STRING
  "Maintainer field of the Debian package (Name <address>)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trenn)
set(CPACK_PACKAGE_VENDOR "Trenn developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The summary is the first Description line; the body's lines stay under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Trenn shows the mesh parts stored in ELF32 relocatable object files as a
wireframe that can be turned with the keys or the mouse.
.
The package also holds trenn-inspect, which loads a file the same way
without a window and prints the parts it found, or why the file failed,
as JSON.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRENN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends comes from dpkg-shlibdeps on the installed programs, never from a hand-kept list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
