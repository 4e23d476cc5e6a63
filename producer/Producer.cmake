# The producer kit (library, used by the tests and benchmarks) and its CLI, esproduce.
add_library(esproduce_lib STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/Producer.h
  ${CMAKE_CURRENT_SOURCE_DIR}/AttrFile.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Generate.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/PageFiles.h
  ${CMAKE_CURRENT_SOURCE_DIR}/PageFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Pdf.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Text.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Tree.cpp)
es_defaults(esproduce_lib)
target_include_directories(esproduce_lib PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(esproduce_lib PUBLIC Quillet)

# CLI11 is header-only; the host defines the target when it is configured first. The
# cross build borrows the build machine's copy through a folder that holds nothing else.
if(NOT TARGET CLI11::CLI11)
  set(cli11_include ${CMAKE_BINARY_DIR}/third_party/cli11/include)
  file(MAKE_DIRECTORY ${cli11_include})
  if(NOT EXISTS ${cli11_include}/CLI)
    file(CREATE_LINK /usr/include/CLI ${cli11_include}/CLI SYMBOLIC COPY_ON_ERROR)
  endif()
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${cli11_include})
endif()

add_executable(esproduce ${CMAKE_CURRENT_SOURCE_DIR}/Main.cpp)
es_defaults(esproduce)
target_link_libraries(esproduce PRIVATE esproduce_lib CLI11::CLI11)
if(WIN32)
  target_link_options(esproduce PRIVATE -municode)
endif()
