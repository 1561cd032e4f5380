# Import libraries that load their DLL on the first call instead of at process
# start. The installer runs elevated, often from a Downloads folder: every DLL
# in its import table that is not one of the system's known DLLs would be
# looked for beside the program first, before the entry point can restrict the
# search. So the import table keeps only known DLLs (and comctl32, which the
# application manifest binds side by side); the rest is listed in
# cmake/delayload/<name>.def and linked through ov_delay_<name>.
#
# The libraries are made at configure time (dlltool is quick, and a .def that
# changes re-runs the configuration), so no build-order rules are needed.

include_guard(GLOBAL)

find_program(OV_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

function(ov_delay_import name)
  set(def ${CMAKE_SOURCE_DIR}/cmake/delayload/${name}.def)
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${name}_delay.a)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
  execute_process(COMMAND ${OV_DLLTOOL} --input-def ${def} --output-delaylib ${lib}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dlltool failed for ${def}: ${err}")
  endif()
  add_library(ov_delay_${name} STATIC IMPORTED GLOBAL)
  set_target_properties(ov_delay_${name} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()

ov_delay_import(winmm)
ov_delay_import(bcrypt)
ov_delay_import(crypt32)
ov_delay_import(comctl32)
ov_delay_import(secur32)
ov_delay_import(winhttp)
ov_delay_import(oleacc)
