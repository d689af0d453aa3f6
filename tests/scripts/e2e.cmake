# The real trenn on a virtual X screen (Xvfb), driven with xdotool and looked at with
# ImageMagick; skipped when one of them is missing.
if(TRENN_WITH_QT)
  add_test(NAME e2e.viewer
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e_test.sh
      $<TARGET_FILE:trenn> ${CMAKE_BINARY_DIR}/samples $<TARGET_FILE:trenn-inspect>)
  set_tests_properties(e2e.viewer PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
if(TRENN_WITH_QT)
  add_test(NAME e2e.hidpi
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/hidpi_test.sh
      $<TARGET_FILE:trenn> ${CMAKE_BINARY_DIR}/samples)
  set_tests_properties(e2e.hidpi PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
if(TRENN_WITH_QT)
  # Asks a window to close as a window manager would; the virtual screens run none.
  add_executable(trenn-close-window e2e/close_window.cpp)
  target_include_directories(trenn-close-window PRIVATE ${TRENN_XCB_INCLUDE_DIR})
  target_link_libraries(trenn-close-window PRIVATE ${TRENN_XCB_LIBRARY})
  add_test(NAME e2e.files
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/files_test.sh
      $<TARGET_FILE:trenn> $<TARGET_FILE:trenn-inspect> $<TARGET_FILE:trenn-close-window>)
  set_tests_properties(e2e.files PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240)
endif()
if(TRENN_WITH_QT)
  add_test(NAME e2e.command_line
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/command_line_test.sh
      $<TARGET_FILE:trenn> ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/samples)
  set_tests_properties(e2e.command_line PROPERTIES TIMEOUT 60)
endif()
# Under AddressSanitizer the program needs terabytes of address space: no limit applies.
if(TRENN_WITH_QT AND NOT TRENN_SANITIZE)
  add_test(NAME e2e.memory_cap
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/memory_cap_test.sh
      $<TARGET_FILE:trenn> ${CMAKE_BINARY_DIR}/samples)
  set_tests_properties(e2e.memory_cap PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
