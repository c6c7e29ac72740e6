# Libraries loaded on first use (delay-loaded): the program needs the
# common dialogs, the certificate services and the shell only for some
# commands, and loading them at start-up (with the libraries they load in
# turn) kept the window waiting for them.
#
# tm_delay_load_library(<name> <dll>) defines the link target
# tm_delay_<name>: an import library whose entries load <dll> on their
# first call. With MinGW the library is made by dlltool from the entry
# names of the toolchain's own import library lib<name>.a; with MSVC it is
# the plain import library with /DELAYLOAD.
if(MINGW)
  find_program(TM_DLLTOOL NAMES ${CMAKE_C_COMPILER_TARGET}-dlltool x86_64-w64-mingw32-dlltool dlltool REQUIRED)
  find_program(TM_NM NAMES x86_64-w64-mingw32-nm nm REQUIRED)
  find_library(TM_DELAYIMP delayimp REQUIRED)
endif()

function(tm_delay_load_library name dll)
  add_library(tm_delay_${name} INTERFACE)
  if(MSVC)
    target_link_libraries(tm_delay_${name} INTERFACE ${name} delayimp)
    target_link_options(tm_delay_${name} INTERFACE /DELAYLOAD:${dll})
    return()
  endif()
  find_library(TM_IMPORT_${name} ${name} REQUIRED)
  execute_process(COMMAND ${TM_NM} ${TM_IMPORT_${name}} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "__imp_[A-Za-z0-9_]+" entries "${symbols}")
  list(REMOVE_DUPLICATES entries)
  list(TRANSFORM entries REPLACE "^__imp_" "")
  list(JOIN entries "\n" exports)
  set(def ${CMAKE_BINARY_DIR}/delayload/${name}.def)
  set(library ${CMAKE_BINARY_DIR}/delayload/lib${name}_delay.a)
  file(WRITE ${def} "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
  add_custom_command(OUTPUT ${library}
    COMMAND ${TM_DLLTOOL} --input-def ${def} --dllname ${dll} --output-delaylib ${library}
    DEPENDS ${def} VERBATIM)
  add_custom_target(tm_delay_${name}_library DEPENDS ${library})
  add_dependencies(tm_delay_${name} tm_delay_${name}_library)
  target_link_libraries(tm_delay_${name} INTERFACE ${library} ${TM_DELAYIMP})
endfunction()
