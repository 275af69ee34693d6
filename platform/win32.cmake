add_library(brix_platform STATIC
  ${BRIX_PLATFORM_COMMON_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/win32_backend.cc
)
