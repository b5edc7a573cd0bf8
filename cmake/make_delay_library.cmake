# cmake -DNM=<nm> -DDLLTOOL=<dlltool> -DIMPORT_LIBRARY=<lib<name>.a> -DDLL=<name>.dll
#       -DFOLDER=<folder> -P make_delay_library.cmake
# Writes <folder>/lib<name>.a, a delay-load import library with every function
# that the ordinary import library <IMPORT_LIBRARY> offers (data exports cannot
# be delay-loaded and are left out).
execute_process(COMMAND ${NM} -g --defined-only ${IMPORT_LIBRARY}
                OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" functions "${symbols}")
list(TRANSFORM functions REPLACE "^[0-9a-fA-F]+ T " "")
list(REMOVE_DUPLICATES functions)
list(SORT functions)
list(LENGTH functions count)
if(count EQUAL 0)
  message(FATAL_ERROR "no functions in ${IMPORT_LIBRARY}")
endif()
string(REPLACE ";" "\n" exports "${functions}")
string(REGEX REPLACE "\\.dll$" "" name "${DLL}")
file(MAKE_DIRECTORY ${FOLDER})
file(WRITE ${FOLDER}/${name}.def "LIBRARY ${DLL}\nEXPORTS\n${exports}\n")
# Run in the folder: dlltool names the library's symbols after the output
# path, here __DELAY_IMPORT_DESCRIPTOR_lib<name>_a and the like.
execute_process(COMMAND ${DLLTOOL} --input-def ${name}.def --dllname ${DLL}
                        --output-delaylib lib${name}.a
                WORKING_DIRECTORY ${FOLDER} COMMAND_ERROR_IS_FATAL ANY)
