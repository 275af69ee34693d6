# Tests of the Windows builds, registered in the native build when a Windows
# build tree exists: its resources are read directly; with Wine and Xvfb
# present the end-to-end scenarios and the run-control tests run under Wine.
set(BRIX_WIN32_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/win32" CACHE PATH
    "Windows build tree (cmake --preset win32) whose programs the Wine tests run")
find_program(BRIX_WINE NAMES wine64 wine)
find_program(BRIX_XVFB Xvfb)
find_program(BRIX_XVFB_RUN xvfb-run)
option(BRIX_REQUIRE_WINE "Fail to configure unless the Wine tests can be registered" OFF)
if(BRIX_REQUIRE_WINE AND NOT (EXISTS ${BRIX_WIN32_BUILD_DIR}/installer/BrixCopy.exe
                              AND BRIX_WINE AND BRIX_XVFB AND BRIX_XVFB_RUN))
  message(FATAL_ERROR "Wine tests required, but the Windows build (${BRIX_WIN32_BUILD_DIR}), "
                      "wine, Xvfb or xvfb-run is missing")
endif()

set(_win32_dir ${CMAKE_CURRENT_LIST_DIR})

# Converting Wine's registry export needs neither Wine nor a Windows build.
add_test(NAME e2e.wine.export_format
  COMMAND ${Python3_EXECUTABLE} ${_win32_dir}/wine_export_test.py)
set_tests_properties(e2e.wine.export_format PROPERTIES LABELS "e2e")

if(EXISTS ${BRIX_WIN32_BUILD_DIR}/installer/BrixCopy.exe)
  add_test(NAME e2e.win32.resources
    COMMAND ${Python3_EXECUTABLE} ${_win32_dir}/resources_test.py ${BRIX_WIN32_BUILD_DIR})
  set_tests_properties(e2e.win32.resources PROPERTIES LABELS "win32")
  # Only functions the device provides (docs/windows.md); needs the MinGW-w64 tools only.
  if(EXISTS ${BRIX_WIN32_BUILD_DIR}/device_api.json)
    add_test(NAME e2e.win32.device_api
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/tools/device_api_test.py
              ${BRIX_WIN32_BUILD_DIR}/device_api.json)
    set_tests_properties(e2e.win32.device_api PROPERTIES LABELS "win32" TIMEOUT 120 COST 30)
  endif()

  if(BRIX_WINE AND BRIX_XVFB AND BRIX_XVFB_RUN)
    set(_w ${BRIX_WIN32_BUILD_DIR})
    set(_wine_artifacts
      --artifact BrixCopy=${_w}/installer/BrixCopy.exe
      --artifact Brixparse=${_w}/regimport/Brixparse.exe
      --artifact recorder=${_w}/tests/e2e/win32/recorder.exe
      --artifact testreg=${_w}/tests/e2e/win32/testreg.dll
      --option build=${_w})
    brix_add_scenarios(wine 300 5 ${_wine_artifacts})
    add_test(NAME e2e.wine.backend
      COMMAND ${Python3_EXECUTABLE} ${_win32_dir}/wine_backend_test.py ${_w})
    set_tests_properties(e2e.wine.backend PROPERTIES LABELS "e2e;wine" TIMEOUT 300 COST 5)
    # Desktop exports converted by brixdev, compared with what Wine's regedit makes of them.
    add_test(NAME e2e.wine.reg_convert
      COMMAND ${Python3_EXECUTABLE} ${_win32_dir}/wine_convert_test.py --build ${_w}
              --brixdev $<TARGET_FILE:brixdev> --importer $<TARGET_FILE:Brixparse>)
    set_tests_properties(e2e.wine.reg_convert PROPERTIES LABELS "e2e;wine" TIMEOUT 300 COST 5)
    add_test(NAME e2e.wine.run_control
      COMMAND ${Python3_EXECUTABLE} ${_win32_dir}/wine_run_control_test.py
              --build ${_w} --shots ${CMAKE_BINARY_DIR}/wine-shots)
    set_tests_properties(e2e.wine.run_control PROPERTIES LABELS "e2e;wine" TIMEOUT 300 COST 30)
  endif()
endif()
