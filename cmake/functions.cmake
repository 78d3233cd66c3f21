# rovend_embed(<target> <input> <symbol> <namespace>): compiles <input> into
# <target> as a byte array <namespace>::<symbol> of size <symbol>_size.
function(rovend_embed target input symbol namespace)
  get_filename_component(abs "${input}" ABSOLUTE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embed_${symbol}.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${abs} -DOUTPUT=${out} -DSYMBOL=${symbol}
            -DNAMESPACE=${namespace} -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS "${abs}" ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()

# rovend_gtest(<name> SOURCES ... LIBS ... [WINDOWS]): a GoogleTest
# executable registered with ctest under its own name. Windows trees build
# only those marked WINDOWS, which the native tree runs under Wine.
function(rovend_gtest name)
  cmake_parse_arguments(T "WINDOWS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(ROVEND_WINDOWS AND NOT T_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  # Shared test helpers are included as "support/...".
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE ROVEND_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(ROVEND_WINDOWS)
    # Windows test executables run under Wine; see tests/CMakeLists.txt.
    return()
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "ROVEND_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    LABELS "native;${T_LABELS}")
endfunction()

# rovend_add_subfolders(): adds every sub-folder of the current folder that
# has a CMakeLists.txt and is not named in ROVEND_SKIP.
function(rovend_add_subfolders)
  file(GLOB subfolders LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(sub IN LISTS subfolders)
    get_filename_component(sub_name ${sub} NAME)
    if(IS_DIRECTORY ${sub} AND EXISTS ${sub}/CMakeLists.txt AND NOT sub_name IN_LIST ROVEND_SKIP)
      add_subdirectory(${sub})
    endif()
  endforeach()
endfunction()

# A tool's executable: with the libraries linked from their archives, the
# C++ runtime too, where no sanitizer needs the shared one.
function(rovend_static_runtime target)
  if(NOT ROVEND_WINDOWS AND ROVEND_STATIC_LIBRARIES AND NOT ROVEND_SANITIZE AND NOT ROVEND_FUZZ)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
