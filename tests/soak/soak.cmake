# The install window soak (scripts/soak.sh runs it): the real window from the
# embedded skin, driven in-process for a bounded time while GDI and USER
# objects, handles and memory are sampled.
#
# Include once from the top-level CMakeLists.txt after project(); the target
# is made at the end of that file, where the libraries it links exist and the
# project's compile options apply.

include_guard(GLOBAL)

function(ov_soak_setup)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/soak/*.cpp)
  add_executable(install_window_soak ${_src})
  target_link_libraries(install_window_soak PRIVATE ov_app ov_skin_res psapi)
  set_target_properties(install_window_soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/soak)
  # CI runs a short soak (20 s, a sample every 5 s); scripts/soak.sh runs the
  # full ten minutes. It owns the keyboard focus while it types, so it runs alone.
  if(OV_BUILD_TESTS)
    add_test(NAME install_window_soak COMMAND install_window_soak 20 5)
    set_tests_properties(install_window_soak PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ov_soak_setup)
