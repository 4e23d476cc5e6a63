# Checks of the unpacked release package, label "package". The package exists only after
# cpack, so these tests live in a test folder of their own, <build>/package-check, that the
# ordinary test run does not enter; scripts/package.sh runs them after packaging:
#   ctest --test-dir <build>/package-check
# Included from cmake/Packaging.cmake, which defines ES_PACKAGE_FILE.
set(es_check_script ${CMAKE_CURRENT_LIST_DIR}/check-package.sh)
if(WIN32)
  set(es_package_checks contents run scan imports)
else()
  set(es_package_checks contents run scan rpath)
endif()

set(es_check_tests "")
foreach(check IN LISTS es_package_checks)
  string(APPEND es_check_tests
    "add_test([=[package_${check}]=] \"/bin/sh\" \"${es_check_script}\" \"${check}\" \"${ES_PACKAGE_FILE}\")\n"
    "set_tests_properties([=[package_${check}]=] PROPERTIES LABELS \"package\" TIMEOUT 300)\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/package-check/CTestTestfile.cmake
  "# The unpacked release package ${ES_PACKAGE_NAME}; written by tests/package/PackageChecks.cmake.\n"
  "${es_check_tests}")
