# The skin archive: skin/InstallPackages.xml, skin/MessageBox.xml and every
# skin/*.png packed into one deflate zip (skin/tools/pack_skin.py, Python's
# standard library only) and embedded as resource "ZIPRES" 150 by linking the
# object library ov_skin_res. Also the skin preview program.
#
# Include once from the top-level CMakeLists.txt after project(); the set-up
# is deferred to the end of that file, so the include may stand anywhere and
# still see the test targets.

include_guard(GLOBAL)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(ov_skin_setup)
  set(skin_dir ${CMAKE_SOURCE_DIR}/skin)
  set(skin_zip ${CMAKE_BINARY_DIR}/skin.zip)
  set(skin_rc ${CMAKE_BINARY_DIR}/skin.rc)
  file(GLOB skin_pngs CONFIGURE_DEPENDS ${skin_dir}/*.png)
  add_custom_command(OUTPUT ${skin_zip}
    COMMAND Python3::Interpreter ${skin_dir}/tools/pack_skin.py ${skin_dir} ${skin_zip}
    DEPENDS ${skin_dir}/tools/pack_skin.py ${skin_dir}/InstallPackages.xml ${skin_dir}/MessageBox.xml ${skin_pngs}
    COMMENT "Packing the skin archive"
    VERBATIM)
  add_custom_target(ov_skin_zip DEPENDS ${skin_zip})

  file(WRITE ${skin_rc}.in "150 ZIPRES \"${skin_zip}\"\n")
  configure_file(${skin_rc}.in ${skin_rc} COPYONLY)
  set_source_files_properties(${skin_rc} PROPERTIES OBJECT_DEPENDS ${skin_zip})
  add_library(ov_skin_res OBJECT ${skin_rc})
  add_dependencies(ov_skin_res ov_skin_zip)

  # Opens the install window and the message box from the embedded skin,
  # without network or install logic.
  add_executable(skin_preview WIN32 ${CMAKE_SOURCE_DIR}/tools/skin_preview.cpp)
  target_link_libraries(skin_preview PRIVATE ov_ui ov_skin_res)
  target_link_options(skin_preview PRIVATE -municode)
  set_target_properties(skin_preview PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

  # The UI tests build both real layouts from the embedded archive, and the
  # app tests open the install window from it.
  foreach(suite ui_tests app_tests)
    if(TARGET ${suite})
      target_link_libraries(${suite} PRIVATE ov_skin_res)
    endif()
  endforeach()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ov_skin_setup)
