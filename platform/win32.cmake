# The Win32 backend: wide-character Win32 calls that the device's core library
# also offers. The programs enter through wWinMain (hence -municode); the entry
# is compiled into each program, as the C runtime's reference to it is only
# seen after the backend library has been searched.
add_library(brix_platform STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/win32_path.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_window.cc
)
target_sources(brix_platform INTERFACE ${CMAKE_CURRENT_LIST_DIR}/win32_entry.cc)
target_link_options(brix_platform INTERFACE -municode)
