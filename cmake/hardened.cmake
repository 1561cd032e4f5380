# The hardened build: the same sources with undefined-behaviour checks that
# trap (an illegal instruction at the faulty operation, no run-time library
# needed), on top of the libstdc++ assertions and stack protector that every
# build has. Used by scripts/hardened-campaign.sh in its own build tree to run
# the bad-input campaign program; the product build stays as it is.
#
# Include from the top-level CMakeLists.txt right after add_compile_options,
# so that the options reach every target, third-party test code included.

include_guard(GLOBAL)

option(OV_HARDENED "Trap on undefined behaviour (-fsanitize=undefined, trap mode)" OFF)

if(OV_HARDENED)
  add_compile_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)
  add_link_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)
endif()

# Seeded random bad input through the parsers and decoders (manifests, layout
# documents, image strings, zip archives, PNG files, HTML-like text). Built in
# every tree on request only; the hardened tree is where it means something.
# Made at the end of the top-level file, so that it gets the link options set
# there (static runtime, stack protector) like every other program.
function(ov_campaign_setup)
  if(OV_HARDENED)
    set(in_all "")
  else()
    set(in_all EXCLUDE_FROM_ALL)
  endif()
  file(GLOB src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/campaign/*.cpp)
  add_executable(bad_input_campaign ${in_all} ${src} ${CMAKE_SOURCE_DIR}/tests/ui/UiTestSupport.cpp)
  target_include_directories(bad_input_campaign PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/ui)
  # ov_skin_res: the real skin archive, whose layouts and images seed the campaigns.
  target_link_libraries(bad_input_campaign PRIVATE ov_app ov_updater ov_ui ov_skin_res)
  set_target_properties(bad_input_campaign PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/campaign)
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ov_campaign_setup)
