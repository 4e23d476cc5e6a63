add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/settings)

es_borrowed_headers(CLI11::CLI11 CLI)

# The host's text conversions (the module's own rules).
add_library(eshost_text STATIC ${CMAKE_CURRENT_SOURCE_DIR}/HostText.cpp)
es_defaults(eshost_text)
target_link_libraries(eshost_text PRIVATE es_core)

# Receiving and storing pages: the callback, the output folder and its delivery ledger,
# eshost's own calls to the operating system, eshost status. Built without the module's
# sources on its include path: it sees only include/es, the companions' headers and its
# own folder (through a folder that holds nothing but a link to it).
set(host_include ${CMAKE_BINARY_DIR}/host-include)
file(MAKE_DIRECTORY ${host_include})
if(NOT EXISTS ${host_include}/host)
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${host_include}/host SYMBOLIC)
endif()
add_library(eshost_output STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/AttrJson.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/FaultSeam.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/HostCallback.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/HostOs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Ledger.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/OutputFolder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/StatusCommand.cpp)
target_compile_options(eshost_output PRIVATE -Wall -Wextra -Wno-unused-parameter $<$<BOOL:${ES_WERROR}>:-Werror>)
target_include_directories(eshost_output PUBLIC ${PROJECT_SOURCE_DIR}/include ${host_include})
if(WIN32)
  target_compile_definitions(eshost_output PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(eshost_output PUBLIC bcrypt psapi)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_link_libraries(eshost_output PUBLIC OpenSSL::Crypto)
endif()
target_link_libraries(eshost_output PUBLIC eshost_text Quillet Pictorn Tessard Brivel nlohmann_json::nlohmann_json)

# What eshost is made of, also linked by the host's tests.
add_library(eshost_lib STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ModuleLoader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CheckCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/InfoCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Receipt.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ScanCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Session.cpp)
es_defaults(eshost_lib)
target_include_directories(eshost_lib PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(eshost_lib PUBLIC eshost_output eshost_settings es_core Quillet Tessard Brivel Pictorn nlohmann_json::nlohmann_json)
if(WIN32)
  target_link_libraries(eshost_lib PUBLIC psapi)
else()
  target_link_libraries(eshost_lib PUBLIC dl)
endif()

add_executable(eshost ${CMAKE_CURRENT_SOURCE_DIR}/Main.cpp)
es_defaults(eshost)
target_link_libraries(eshost PRIVATE eshost_lib CLI11::CLI11)
if(WIN32)
  target_link_options(eshost PRIVATE -municode)
endif()
add_dependencies(eshost Input.ExternalStorage)

# eshost register, edit, remove, set, storages, configure. The dialogs' texts come from
# eshost's own string table, which the Windows build carries as a resource.
target_sources(eshost_lib PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ConfigCommands.cpp)
if(WIN32)
  target_sources(eshost PRIVATE ${ES_RESOURCE_RC})
endif()

# eshost groups, and eshost scan --storage DIR --group NAME: the scan dialog's logic.
target_sources(eshost_lib PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/GroupsCommand.cpp)
