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
# Storages are written with the module's own names for files and attributes.
target_link_libraries(esproduce_lib PUBLIC Quillet es_storage)

es_borrowed_headers(CLI11::CLI11 CLI)

add_executable(esproduce ${CMAKE_CURRENT_SOURCE_DIR}/Main.cpp)
es_defaults(esproduce)
es_project_root(esproduce)
target_link_libraries(esproduce PRIVATE esproduce_lib CLI11::CLI11)
if(WIN32)
  target_link_options(esproduce PRIVATE -municode)
endif()
