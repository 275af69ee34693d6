# The simulated device registry: a SQLite database beside the device folder.
# Used by the POSIX backend and by the host tool brixdev.
find_package(SQLite3 REQUIRED)
add_library(brix_registry_store STATIC
  ${CMAKE_CURRENT_LIST_DIR}/registry_store.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry_text.cc
)
target_link_libraries(brix_registry_store PUBLIC SQLite::SQLite3)
