# trenn-inspect --export, each format read back by assimp, meshio, three.js's PLY loader and the
# glTF validator. The npm readers live in npm-readers/ of the build folder (test.sh installs
# them with scripts/setup.sh's trenn_install_npm_readers); a reader that is missing fails the
# test under CI or test.sh and skips it otherwise.
find_program(TRENN_PYTHON3 python3)
if(TRENN_PYTHON3)
  foreach(_group Summary Obj Ply Stl Glb Command)
    add_test(NAME export.${_group}
      COMMAND ${TRENN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/export/export_test.py
        --inspect $<TARGET_FILE:trenn-inspect> --samples ${CMAKE_BINARY_DIR}/samples
        --readers ${CMAKE_BINARY_DIR}/npm-readers ${_group})
    set_tests_properties(export.${_group} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
