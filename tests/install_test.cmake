# Installs the build into PREFIX and runs the installed tool on the installed
# plug-in.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" RESULT_VARIABLE rc
                OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(path lib/avisynth/libtallyburn.so bin/tallyburn)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/tallyburn" --info "BlankClip(100, 20).FrameTC().Tallyburn()"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "width       100")
  message(FATAL_ERROR "installed tool: ${rc}\n${out}${err}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
