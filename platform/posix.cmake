find_package(Threads REQUIRED)
add_library(brix_platform STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/posix_entry.cc
)
target_link_libraries(brix_platform PUBLIC brix_registry_store Threads::Threads ${CMAKE_DL_LIBS})
