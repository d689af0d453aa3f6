# Installation and packaging checks: the desktop entry, the man pages and the Debian package.
# A test whose tool is missing reports itself skipped (exit 77) and names the Debian package.
set(_package_tests ${CMAKE_CURRENT_SOURCE_DIR}/package)

add_test(NAME Package.DesktopEntryValidates
  COMMAND bash ${_package_tests}/desktop_entry_test.sh ${PROJECT_SOURCE_DIR}/packaging/org.example.Trenn.desktop)

# The man pages are configured into the build folder by packaging/packaging.cmake.
add_test(NAME Package.ManPagesRender
  COMMAND bash ${_package_tests}/man_page_test.sh $<TARGET_FILE:trenn-inspect>
    ${CMAKE_BINARY_DIR}/packaging/man)

find_program(TRENN_DPKG_DEB dpkg-deb)
if(TRENN_WITH_QT AND TRENN_DPKG_DEB AND CMAKE_CPACK_COMMAND)
  add_test(NAME Package.DebianPackageInstallsAndRuns
    COMMAND bash ${_package_tests}/package_test.sh ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR})
  set_tests_properties(Package.DebianPackageInstallsAndRuns PROPERTIES TIMEOUT 300)
endif()

set_tests_properties(Package.DesktopEntryValidates Package.ManPagesRender PROPERTIES TIMEOUT 60)
get_property(_package_test_names DIRECTORY PROPERTY TESTS)
list(FILTER _package_test_names INCLUDE REGEX "^Package\\.")
set_tests_properties(${_package_test_names} PROPERTIES SKIP_RETURN_CODE 77 LABELS package)
