# Shared by every backend: compiled into each backend library.
set(BRIX_PLATFORM_COMMON_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/call_observer.cc
  ${CMAKE_CURRENT_LIST_DIR}/debug_format.cc
  ${CMAKE_CURRENT_LIST_DIR}/text_decoder.cc
  ${CMAKE_CURRENT_LIST_DIR}/stream.cc
  ${CMAKE_CURRENT_LIST_DIR}/files.cc
)
