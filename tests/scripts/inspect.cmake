# trenn-inspect's JSON and exit-status contract, checked on the samples and on hand-made files.
find_program(TRENN_PYTHON3 python3)
if(TRENN_PYTHON3)
  # Without Qt there is no --render: the picture cases do not apply.
  set(_render_flag)
  if(NOT TRENN_WITH_QT)
    set(_render_flag --no-render)
  endif()
  # Under the sanitizers every allocation is padded and everything is slower: no time or
  # memory bounds.
  if(TRENN_SANITIZE)
    list(APPEND _render_flag --sanitized)
  endif()
  foreach(_group Samples HandMade Failures Usage Render)
    add_test(NAME inspect.${_group}
      COMMAND ${TRENN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/inspect/inspect_test.py
        --inspect $<TARGET_FILE:trenn-inspect> --samples ${CMAKE_BINARY_DIR}/samples
        ${_render_flag} ${_group})
  endforeach()
else()
  message(STATUS "python3 not found: the trenn-inspect script tests are not registered")
endif()
