add_library(brix_platform_fake STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/fake.cc
)
find_package(Threads REQUIRED)
target_link_libraries(brix_platform_fake PUBLIC Threads::Threads)
