# The Win32 backend: wide-character Win32 calls that the device's core library
# also offers. The programs enter through wWinMain (hence -municode).
add_library(brix_platform STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/win32_path.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_window.cc
  ${CMAKE_CURRENT_LIST_DIR}/win32_entry.cc
)
target_link_options(brix_platform INTERFACE -municode)
