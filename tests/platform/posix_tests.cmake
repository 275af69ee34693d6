# Tests of the POSIX device simulator backend. They create throw-away device
# folders under /tmp, fork, and start small programs and libraries built here.
add_library(posix_testlib MODULE ${CMAKE_CURRENT_LIST_DIR}/posix_testlib.cc)
set_target_properties(posix_testlib PROPERTIES PREFIX "")

add_executable(posix_entry_probe ${CMAKE_CURRENT_LIST_DIR}/posix_entry_probe.cc $<TARGET_OBJECTS:brix_platform_entry>)
target_link_libraries(posix_entry_probe PRIVATE brix_platform_posix_core)

add_executable(posix_tests
  ${CMAKE_CURRENT_LIST_DIR}/posix_test_device.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_paths_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_files_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_process_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_sync_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_module_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_entry_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_console_test.cc
)
target_link_libraries(posix_tests PRIVATE brix_platform_posix_core GTest::gtest_main)
target_compile_definitions(posix_tests PRIVATE
  BRIX_TEST_LIBRARY="$<TARGET_FILE:posix_testlib>"
  BRIX_ENTRY_PROBE="$<TARGET_FILE:posix_entry_probe>")
add_dependencies(posix_tests posix_testlib posix_entry_probe)
# gtest_discover_tests keeps only the first of several labels; the prefix selects this suite: ctest -R "^posix[.]".
gtest_discover_tests(posix_tests NO_PRETTY_VALUES TEST_PREFIX "posix." PROPERTIES LABELS unit TIMEOUT 60)
