# The install tree: the shell in bin/, everything it starts in one resources folder beside it.
# The shell finds the folder as ../lib/lumory relative to its own executable, so the tree can be
# moved as a whole.
set(LUMORY_BIN_DIR "bin")
set(LUMORY_RESOURCES_DIR "lib/lumory")
# Relative path from the shell's folder to the resources folder, compiled into the shell.
set(LUMORY_RESOURCES_FROM_BIN "../lib/lumory")

# Installs the shell executable.
function(lumory_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${LUMORY_BIN_DIR})
endfunction()

# Installs an executable that the shell or the service starts (the helpers).
function(lumory_install_resource_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${LUMORY_RESOURCES_DIR})
endfunction()

# Installs a script or other file into the resources folder under a given name.
function(lumory_install_resource_file file name)
  install(PROGRAMS ${file} DESTINATION ${LUMORY_RESOURCES_DIR} RENAME ${name})
endfunction()

# The source tree: tests/ and bench/ hold one folder per program, named as the program's own
# folder. Adds those of the current folder whose program is built (LUMORY_BUILD_APP for app/,
# LUMORY_BUILD_CALENDAR_HELPER for calendar-helper/, ...).
function(lumory_add_program_folders)
  foreach(program calendar-helper audio-helper app)
    string(TOUPPER "${program}" switch)
    string(REPLACE "-" "_" switch "${switch}")
    if(LUMORY_BUILD_${switch})
      add_subdirectory(${program})
    endif()
  endforeach()
endfunction()
