# Installer benchmark programs (run by bench/run_installer_bench.sh): the
# minimal Win32 window it is compared with, and the outside probe that times
# first paints and samples working sets. Neither links project code, so that
# they measure the installer and the platform, not themselves.
add_executable(min_window WIN32 ${CMAKE_CURRENT_LIST_DIR}/min_window.cpp)
target_link_options(min_window PRIVATE -municode)
set_target_properties(min_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

add_executable(paint_probe ${CMAKE_CURRENT_LIST_DIR}/paint_probe.cpp)
target_link_libraries(paint_probe PRIVATE psapi)
target_link_options(paint_probe PRIVATE -municode)
set_target_properties(paint_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
