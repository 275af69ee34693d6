# The in-memory fake backend for unit tests. fake_state.h is private to these files.
add_library(brix_platform_fake STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/fake.cc
  ${CMAKE_CURRENT_LIST_DIR}/fake_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/fake_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/fake_registry.cc
  ${CMAKE_CURRENT_LIST_DIR}/fake_window.cc
)
find_package(Threads REQUIRED)
target_link_libraries(brix_platform_fake PUBLIC Threads::Threads)
