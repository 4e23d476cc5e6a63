add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/settings)

es_borrowed_headers(CLI11::CLI11 CLI)

# What eshost is made of, also linked by the host's tests.
add_library(eshost_lib STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ModuleLoader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/AttrJson.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CheckCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/HostCallback.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/InfoCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Receipt.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ScanCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Session.cpp)
es_defaults(eshost_lib)
target_include_directories(eshost_lib PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(eshost_lib PUBLIC eshost_settings es_core Quillet Tessard Brivel Pictorn nlohmann_json::nlohmann_json)
if(WIN32)
  target_link_libraries(eshost_lib PUBLIC psapi)
else()
  target_link_libraries(eshost_lib PUBLIC dl)
endif()

add_executable(eshost ${CMAKE_CURRENT_SOURCE_DIR}/Main.cpp)
es_defaults(eshost)
es_project_root(eshost)
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
