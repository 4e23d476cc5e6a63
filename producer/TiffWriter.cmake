# TIFF page files for the producer kit: portable encoders on every target; JPEG through
# libtiff on Linux and the Windows Imaging Component on Windows.
add_library(esproduce_tiff STATIC
  ${CMAKE_CURRENT_LIST_DIR}/TiffWriter.h
  ${CMAKE_CURRENT_LIST_DIR}/TiffWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TiffEncoders.h
  ${CMAKE_CURRENT_LIST_DIR}/TiffEncoders.cpp)
es_defaults(esproduce_tiff)
target_include_directories(esproduce_tiff PUBLIC ${PROJECT_SOURCE_DIR})
# The TIFF tag table it shares with the image library.
target_include_directories(esproduce_tiff PRIVATE ${PROJECT_SOURCE_DIR}/companions/Pictorn/include)
if(WIN32)
  target_sources(esproduce_tiff PRIVATE ${CMAKE_CURRENT_LIST_DIR}/TiffJpegWic.cpp)
  target_link_libraries(esproduce_tiff PRIVATE windowscodecs ole32 uuid)
else()
  find_package(TIFF REQUIRED)
  target_link_libraries(esproduce_tiff PRIVATE TIFF::TIFF)
  target_compile_definitions(esproduce_tiff PRIVATE ESPRODUCE_WITH_LIBTIFF)
endif()
