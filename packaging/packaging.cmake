# Installation beyond the programs (their install() lines sit in src/) and the Debian package.
# Included last from the top-level CMakeLists.txt, so that CPack sees every install() rule.

# What gets installed compressed (man pages, changelog) is written at configure time with
# gzip -9n: no name, no time stamp, so the same sources always give the same bytes.
set(_trenn_man_dir ${CMAKE_BINARY_DIR}/packaging/man)
set(_trenn_gz_dir ${CMAKE_BINARY_DIR}/packaging/gz)
file(MAKE_DIRECTORY ${_trenn_gz_dir})
function(trenn_gzip input output)
  execute_process(COMMAND gzip -9nc ${input} OUTPUT_FILE ${output}.new RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${input}")
  endif()
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  file(REMOVE ${output}.new)
endfunction()

set(_trenn_pages trenn-inspect)
if(TRENN_WITH_QT)
  list(APPEND _trenn_pages trenn)
endif()
foreach(_page ${_trenn_pages})
  # The uncompressed page stays in ${_trenn_man_dir} for the man page test.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_page}.1 ${_trenn_man_dir}/${_page}.1 @ONLY)
  trenn_gzip(${_trenn_man_dir}/${_page}.1 ${_trenn_gz_dir}/${_page}.1.gz)
  install(FILES ${_trenn_gz_dir}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The Debian copyright file (machine-readable format) takes the licence text from LICENSE.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_LIST_DIR}/changelog.Debian)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _trenn_license)
string(FIND "${_trenn_license}" "Permission is hereby granted" _trenn_license_at)
if(_trenn_license_at LESS 0)
  message(FATAL_ERROR "LICENSE: no licence text to put into the copyright file")
endif()
string(SUBSTRING "${_trenn_license}" ${_trenn_license_at} -1 _trenn_license)
string(STRIP "${_trenn_license}" _trenn_license)
# Paragraphs are separated by a line holding " ."; every line is indented by one space.
string(REPLACE "\n\n" "\n.\n" _trenn_license "${_trenn_license}")
string(REPLACE "\n" "\n " TRENN_LICENSE_BODY " ${_trenn_license}")
set(_trenn_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/trenn)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
trenn_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog.Debian ${_trenn_gz_dir}/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${_trenn_gz_dir}/changelog.Debian.gz
  DESTINATION ${_trenn_doc_dir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME trenn)

# The desktop entry and the software-centre entry are named after the application's id.
set(TRENN_APP_ID org.example.Trenn)
if(TRENN_WITH_QT)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${TRENN_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${TRENN_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
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
