# rovend_reproducible(<target>): the Windows program's PE time stamp from
# SOURCE_DATE_EPOCH or the last commit (cmake/pe_timestamp.py), so that two
# builds of the same sources give the same bytes.
function(rovend_reproducible target)
  if(ROVEND_WINDOWS)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/pe_timestamp.py $<TARGET_FILE:${target}> ${PROJECT_SOURCE_DIR}
      VERBATIM)
  endif()
endfunction()
