# The release package: one flat folder ExternalStorage-<version>-<platform>/ holding the
# module, its companions, the replacement image, eshost, esproduce, the licence and the
# install guide; a zip for Windows, a tar.gz for Linux. Made by cpack from an already built
# tree (scripts/package.sh), into <build>/packages/.

# The version the module reports in its version resource is the one the package carries.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/ResourceIds.h es_version_lines
     REGEX "^#define ES_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+")
foreach(part MAJOR MINOR PATCH)
  set(es_version_${part} "")
  foreach(line IN LISTS es_version_lines)
    if(line MATCHES "^#define ES_VERSION_${part} +([0-9]+)")
      set(es_version_${part} ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(es_version_${part} STREQUAL "")
    message(FATAL_ERROR "resources/ResourceIds.h defines no ES_VERSION_${part}")
  endif()
endforeach()
set(ES_PACKAGE_VERSION "${es_version_MAJOR}.${es_version_MINOR}.${es_version_PATCH}")
if(NOT PROJECT_VERSION VERSION_EQUAL ES_PACKAGE_VERSION)
  message(WARNING "The project version ${PROJECT_VERSION} differs from the module's version "
                  "${ES_PACKAGE_VERSION} (resources/ResourceIds.h); the package takes the module's.")
endif()

if(WIN32)
  set(ES_PACKAGE_PLATFORM windows-x64)
  set(es_package_generator ZIP)
  set(es_package_extension zip)
else()
  set(ES_PACKAGE_PLATFORM linux-x86_64)
  set(es_package_generator TGZ)
  set(es_package_extension tar.gz)
endif()
set(ES_PACKAGE_NAME ExternalStorage-${ES_PACKAGE_VERSION}-${ES_PACKAGE_PLATFORM})
set(ES_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
set(ES_PACKAGE_FILE ${ES_PACKAGE_DIR}/${ES_PACKAGE_NAME}.${es_package_extension})

# What ships. Everything lies in one folder: the programs find the module beside them, the
# module finds its companions beside it (RPATH $ORIGIN on Linux, the DLL search order on
# Windows), and the image library finds DualStreamPdf.tif beside the module. On Windows the
# DLLs are RUNTIME; their import libraries stay out of the package.
set(ES_SHIPPED_TARGETS Input.ExternalStorage Tessard Lunmere Brivel Quillet Pictorn eshost esproduce)
install(TARGETS ${ES_SHIPPED_TARGETS}
  RUNTIME DESTINATION . COMPONENT runtime
  LIBRARY DESTINATION . COMPONENT runtime NAMELINK_SKIP
  ARCHIVE DESTINATION lib COMPONENT devel EXCLUDE_FROM_ALL)
install(FILES
  ${PROJECT_SOURCE_DIR}/resources/DualStreamPdf.tif
  ${PROJECT_SOURCE_DIR}/packaging/LICENSE
  ${PROJECT_SOURCE_DIR}/packaging/INSTALL.md
  ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION . COMPONENT runtime)

# Builds just what ships, so packaging a tree never waits for the tests.
add_custom_target(es_shipped)
add_dependencies(es_shipped ${ES_SHIPPED_TARGETS})
# cpack installs without building: the tree is built before it is packaged.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_PACKAGE_NAME ExternalStorage)
set(CPACK_PACKAGE_VENDOR "the External Storage input module authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "External Storage input module with eshost and esproduce")
set(CPACK_PACKAGE_VERSION ${ES_PACKAGE_VERSION})
set(CPACK_PACKAGE_VERSION_MAJOR ${es_version_MAJOR})
set(CPACK_PACKAGE_VERSION_MINOR ${es_version_MINOR})
set(CPACK_PACKAGE_VERSION_PATCH ${es_version_PATCH})
set(CPACK_SYSTEM_NAME ${ES_PACKAGE_PLATFORM})
set(CPACK_PACKAGE_FILE_NAME ${ES_PACKAGE_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/LICENSE)
set(CPACK_GENERATOR ${es_package_generator})
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${ES_PACKAGE_DIR})
set(CPACK_PACKAGE_CHECKSUM SHA256)
# The build keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)

# The package as a user unpacks it, checked after cpack by scripts/package.sh.
if(ES_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/package/PackageChecks.cmake)
  include(${PROJECT_SOURCE_DIR}/tests/package/PackageChecks.cmake)
endif()
