# TIFF page files for the producer kit: portable encoders on every target, JPEG through
# libtiff where it is available (Linux).
add_library(esproduce_tiff STATIC
  ${CMAKE_CURRENT_LIST_DIR}/TiffWriter.h
  ${CMAKE_CURRENT_LIST_DIR}/TiffWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TiffEncoders.h
  ${CMAKE_CURRENT_LIST_DIR}/TiffEncoders.cpp)
es_defaults(esproduce_tiff)
target_include_directories(esproduce_tiff PUBLIC ${PROJECT_SOURCE_DIR})
if(NOT WIN32)
  find_package(TIFF REQUIRED)
  target_link_libraries(esproduce_tiff PRIVATE TIFF::TIFF)
  target_compile_definitions(esproduce_tiff PRIVATE ESPRODUCE_WITH_LIBTIFF)
endif()
