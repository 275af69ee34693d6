# Tests of the Win32 backend's host-independent parts (native builds).
add_executable(win32_path_test win32_path_test.cc ${PROJECT_SOURCE_DIR}/platform/win32_path.cc)
target_link_libraries(win32_path_test PRIVATE GTest::gtest_main)
gtest_discover_tests(win32_path_test NO_PRETTY_VALUES PROPERTIES LABELS unit)
