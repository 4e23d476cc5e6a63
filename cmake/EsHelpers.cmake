# Shared settings for the project's own targets (not for third-party code).
function(es_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(ES_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()

# Code outside the module (tests, eshost, esproduce, benchmarks) names its own files from
# the project's root ("tests/support/Capture.h", "producer/Producer.h").
function(es_project_root target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

# One layer of the module, bottom up: platform <- base <- attrs <- storage <- ui <- frame.
# Its headers are seen only by itself and the layers above it: its include folder holds
# nothing but a link named after the layer to its sources, so that "storage/Folder.h"
# resolves wherever es_storage is linked, and an include that runs upwards fails to
# compile. BELOW names the layer (and other libraries) it stands on.
function(es_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;BELOW;USES" ${ARGN})
  add_library(es_${name} STATIC ${L_SOURCES})
  es_defaults(es_${name})
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${name})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${name} ${root}/${name} SYMBOLIC)
  endif()
  target_include_directories(es_${name} PUBLIC ${root})
  target_link_libraries(es_${name} PUBLIC ${L_BELOW} PRIVATE ${L_USES})
endfunction()

# A shared companion library named as shipped (Tessard.dll / Tessard.so).
function(es_companion target)
  add_library(${target} SHARED ${ARGN})
  es_defaults(${target})
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  if(WIN32)
    # MinGW exports every symbol of a DLL without dllexport; keep the statically linked
    # runtime's symbols out of the export table.
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  endif()
endfunction()

# One GoogleTest executable, registered with CTest (under Wine for the Windows build).
# Sources may come later from the test folders, through es_test_part.
function(es_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  es_defaults(${name})
  es_project_root(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  if(WIN32)
    target_sources(${name} PRIVATE ${ES_RESOURCE_RC})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "ES_TEST_BIN=${ES_BIN_DIR};ES_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# A test folder's sources and libraries, added to a test program that several folders share.
function(es_test_part name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  target_sources(${name} PRIVATE ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
endfunction()

# A header-only library from the build machine's /usr/include as an imported target. The
# cross build must not search /usr/include (its C headers would shadow MinGW's own), so
# the headers are reached through a folder that holds nothing but a link to them.
function(es_borrowed_headers target folder)
  if(TARGET ${target})
    return()
  endif()
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} not found: run scripts/install-deps.sh")
  endif()
  set(include ${CMAKE_BINARY_DIR}/third_party/${folder}/include)
  file(MAKE_DIRECTORY ${include})
  if(NOT EXISTS ${include}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${include}/${folder} SYMBOLIC COPY_ON_ERROR)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include})
endfunction()
