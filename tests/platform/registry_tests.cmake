# Tests of the simulated device registry (store and simulator calls) and of
# the host tool brixdev. They create throw-away device folders under /tmp and fork.
add_executable(registry_store_test registry_store_test.cc)
target_link_libraries(registry_store_test PRIVATE brix_registry_store GTest::gtest_main)
gtest_discover_tests(registry_store_test NO_PRETTY_VALUES TEST_PREFIX "registry." PROPERTIES LABELS unit)

# The simulator's registry calls, built alone with the simulator's last-error code.
add_executable(registry_posix_test registry_posix_test.cc ${PROJECT_SOURCE_DIR}/platform/posix_registry.cc)
target_link_libraries(registry_posix_test PRIVATE brix_registry_store brix_platform_posix_core GTest::gtest_main)
gtest_discover_tests(registry_posix_test NO_PRETTY_VALUES TEST_PREFIX "registry." PROPERTIES LABELS unit)

add_executable(registry_brixdev_test registry_export_test.cc registry_brixdev_test.cc)
target_link_libraries(registry_brixdev_test PRIVATE brixdev_lib GTest::gtest_main)
target_compile_definitions(registry_brixdev_test PRIVATE BRIXDEV_PATH="$<TARGET_FILE:brixdev>")
add_dependencies(registry_brixdev_test brixdev)
gtest_discover_tests(registry_brixdev_test NO_PRETTY_VALUES TEST_PREFIX "registry." PROPERTIES LABELS unit)
