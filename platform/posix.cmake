find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)
add_library(brix_platform STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/posix_entry.cc
)
target_link_libraries(brix_platform PUBLIC Threads::Threads SQLite::SQLite3 ${CMAKE_DL_LIBS})
