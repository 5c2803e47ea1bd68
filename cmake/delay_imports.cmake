# Delay-load import libraries for the DLLs the program may not take from its own folder.
#
# morvane_delay_imports(<target> <lib>...) makes each lib<lib>.a of the toolchain again, with
# dlltool's --output-delaylib, into a folder that <target> searches first: "-l<lib>" then
# resolves to the delay-load library whatever the order of the link line. Such a DLL is not in
# the import table; it is loaded by the first call into it, after the entry has limited the
# search to the system folder.
function(morvane_delay_imports target)
  find_program(MORVANE_NM ${MINGW_TRIPLET}-nm REQUIRED)
  find_program(MORVANE_DLLTOOL ${MINGW_TRIPLET}-dlltool REQUIRED)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/delay-imports)
  file(MAKE_DIRECTORY ${folder})
  foreach(lib ${ARGN})
    set(import /usr/${MINGW_TRIPLET}/lib/lib${lib}.a)
    if(NOT EXISTS ${import})
      message(FATAL_ERROR "Import library ${import} is missing")
    endif()
    # The exported names, from the import symbols of the toolchain's own import library.
    execute_process(COMMAND ${MORVANE_NM} --defined-only ${import} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[ \t]I __imp_[^\r\n]+" imports "${symbols}")
    set(def "LIBRARY ${lib}.dll\nEXPORTS\n")
    foreach(entry ${imports})
      string(REGEX REPLACE "^[ \t]I __imp_" "" name "${entry}")
      # 32-bit names carry the C decoration's leading underscore: the .def file has none.
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" name "${name}")
      endif()
      string(APPEND def "${name}\n")
    endforeach()
    file(WRITE ${folder}/${lib}.def "${def}")
    execute_process(COMMAND ${MORVANE_DLLTOOL} --kill-at --input-def ${folder}/${lib}.def --dllname ${lib}.dll
                            --output-delaylib ${folder}/lib${lib}.a
                    COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${import})
  endforeach()
  target_link_directories(${target} BEFORE PRIVATE ${folder})
endfunction()
