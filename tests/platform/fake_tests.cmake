# Tests of the shared platform code (text decoding, streams, debug formatting)
# and of the in-memory fake backend that the programs' unit tests run on.
add_executable(platform_fake_tests
  text_decoder_test.cc
  stream_test.cc
  debug_format_test.cc
  fake_test.cc
)
target_link_libraries(platform_fake_tests PRIVATE brix_platform_fake GTest::gtest_main)
gtest_discover_tests(platform_fake_tests NO_PRETTY_VALUES PROPERTIES LABELS unit)
