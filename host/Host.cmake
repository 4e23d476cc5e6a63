add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/settings)

es_borrowed_headers(CLI11::CLI11 CLI)

# The host's text conversions: the language library's one UTF-8/UTF-16 conversion.
add_library(eshost_text STATIC ${CMAKE_CURRENT_SOURCE_DIR}/HostText.cpp)
es_defaults(eshost_text)
target_include_directories(eshost_text PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(eshost_text PRIVATE Lunmere)

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

# eshost proper: a host like any other. It loads the module by path through include/es,
# keeps the settings, scans and stores what it receives. It sees nothing of the module's
# sources (scripts/check-layers.sh holds it to that).
add_library(eshost_lib STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ModuleLoader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ScanCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Session.cpp)
es_defaults(eshost_lib)
target_include_directories(eshost_lib PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(eshost_lib PUBLIC eshost_output eshost_settings eshost_text Quillet Tessard Brivel Pictorn Lunmere
                                        nlohmann_json::nlohmann_json)
if(WIN32)
  target_link_libraries(eshost_lib PUBLIC psapi)
else()
  target_link_libraries(eshost_lib PUBLIC dl)
endif()

# eshost's tools: the commands that reuse the module's own logic, on the module's layers
# (check, groups and the chosen-group scan, register/edit/remove/set/storages/configure,
# info, the receipt's inventory). They implement what host/Commands.h and host/Receipt.h
# declare; eshost proper calls them only through those.
add_library(eshost_tools STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/CheckCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/ConfigCommands.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/GroupsCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/InfoCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/Receipt.cpp)
es_defaults(eshost_tools)
es_project_root(eshost_tools)
target_link_libraries(eshost_tools PUBLIC eshost_lib PRIVATE es_core)
# The two reach each other: the scan calls the receipt and the chosen-group scan.
target_link_libraries(eshost_lib PUBLIC eshost_tools)

add_executable(eshost ${CMAKE_CURRENT_SOURCE_DIR}/Main.cpp)
es_defaults(eshost)
es_project_root(eshost)
target_link_libraries(eshost PRIVATE eshost_lib eshost_tools CLI11::CLI11)
if(WIN32)
  target_link_options(eshost PRIVATE -municode)
  # The module's texts that the tools show come from eshost's own string table.
  target_sources(eshost PRIVATE ${ES_RESOURCE_RC})
endif()
add_dependencies(eshost Input.ExternalStorage)
