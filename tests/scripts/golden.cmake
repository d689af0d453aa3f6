# Golden pictures: trenn-inspect --render of the samples must match the stored pictures pixel
# for pixel (tests/golden/update_golden.sh writes them anew).
if(TRENN_WITH_QT)
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(trenn-png-compare golden/png_compare.cpp)
  target_link_libraries(trenn-png-compare PRIVATE Qt6::Gui)
  set_target_properties(trenn-png-compare PROPERTIES AUTOMOC OFF)

  set(_golden_dir ${CMAKE_CURRENT_SOURCE_DIR}/data/golden)
  file(STRINGS ${_golden_dir}/cases.txt _golden_cases REGEX "^[A-Za-z0-9_]")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_golden_dir}/cases.txt)
  foreach(_case ${_golden_cases})
    string(REGEX MATCH "^[A-Za-z0-9_]+" _name "${_case}")
    add_test(NAME golden.${_name}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/golden/check_golden.sh
        $<TARGET_FILE:trenn-inspect> $<TARGET_FILE:trenn-png-compare>
        ${CMAKE_BINARY_DIR}/samples ${_golden_dir} ${_name})
  endforeach()
endif()
