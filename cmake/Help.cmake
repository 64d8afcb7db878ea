# tcc_add_help(): the compiled HTML Help file beside the Windows program,
# built from docs/help by target tcc_help (part of ALL). The build fails when
# the compiler is missing or the help does not compile.

# Cached, so that the tests of tests/help see them too.
set(TCC_HELP_SOURCE ${PROJECT_SOURCE_DIR}/docs/help CACHE INTERNAL "")
set(TCC_HELP_CHM ${CMAKE_BINARY_DIR}/app/TandrelConfigurationController.chm CACHE INTERNAL "")

function(tcc_add_help)
  # scripts/setup.sh unpacks the compiler into the build tree when the
  # system has none.
  find_program(TCC_CHMCMD NAMES chmcmd chmcmd-3.2.2
               HINTS ${PROJECT_SOURCE_DIR}/build/tools/fp-utils/usr/bin REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  file(GLOB sources CONFIGURE_DEPENDS ${TCC_HELP_SOURCE}/*)
  add_custom_command(
    OUTPUT ${TCC_HELP_CHM}
    COMMAND ${CMAKE_COMMAND} -DCHMCMD=${TCC_CHMCMD} -DPYTHON=${Python3_EXECUTABLE}
            -DSOURCE=${TCC_HELP_SOURCE} -DSTAGE=${CMAKE_BINARY_DIR}/help-stage
            -DOUTPUT=${TCC_HELP_CHM}
            -P ${PROJECT_SOURCE_DIR}/cmake/BuildHelp.cmake
    DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/BuildHelp.cmake
            ${PROJECT_SOURCE_DIR}/cmake/chm_clear_times.py
            ${PROJECT_SOURCE_DIR}/cmake/chm_context_map.py
    COMMENT "Compiling the help file"
    VERBATIM)
  add_custom_target(tcc_help ALL DEPENDS ${TCC_HELP_CHM})
endfunction()
