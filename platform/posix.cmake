# The POSIX device simulator backend, in three layers:
#   brix_platform_posix_core  the simulator's own services (files, search, processes,
#                             threads, mutexes, modules, dialog, debug output)
#   brix_platform_posix       the complete backend: shared layers + core + registry;
#                             what unit tests link, as they bring their own main()
#   brix_platform_entry       the process entry alone (main), as an object library
#   brix_platform             what the programs link: the backend plus the process
#                             entry (main), which checks that the program runs on a device
find_package(Threads REQUIRED)

add_library(brix_platform_posix_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/posix_console.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_debug.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_device.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_dialog.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_error.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_find.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_module.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_process.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_sync.cc
  ${CMAKE_CURRENT_LIST_DIR}/posix_text.cc
)
target_link_libraries(brix_platform_posix_core PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

add_library(brix_platform_posix STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/posix_registry.cc
)
target_link_libraries(brix_platform_posix PUBLIC brix_platform_posix_core brix_registry_store)

add_library(brix_platform_entry OBJECT ${CMAKE_CURRENT_LIST_DIR}/posix_entry.cc)
add_library(brix_platform STATIC $<TARGET_OBJECTS:brix_platform_entry>)
target_link_libraries(brix_platform PUBLIC brix_platform_posix)
