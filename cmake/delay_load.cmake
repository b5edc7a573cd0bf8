# Delay-loading of the system DLLs that are not KnownDLLs.
#
# For a DLL that is not on the system's KnownDLLs list, Windows searches the
# program's own folder first. The installer is typically run from a Downloads
# folder, where a hostile page may have left a winhttp.dll beforehand; an
# ordinary import of that name would load it before the program's first line.
# The programs therefore import these DLLs through delay-load import
# libraries, so that nothing of them is loaded before the entry point runs;
# the entry point limits the search to the system folder and loads them from
# there (common/system_dll_search.h), and the first call into one finds it
# loaded (the C runtime's delay-load helper, LoadLibraryA with the plain name).
#
# The DLLs every program links that are not KnownDLLs.
set(LANTERNBROOK_DELAY_LOADED_DLLS winhttp bcrypt comctl32 crypt32)

# lanternbrook_delay_load(<target>)
# Links <target> against delay-load import libraries of
# LANTERNBROOK_DELAY_LOADED_DLLS in place of the ordinary ones: the libraries,
# made from the toolchain's own import libraries, lie in a folder of the
# target's that the linker searches before the toolchain's, so every
# `-l<name>` of the target's link line, inherited ones included, finds them.
function(lanternbrook_delay_load target)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${target}-delay-load)
  set(libraries)
  foreach(dll IN LISTS LANTERNBROOK_DELAY_LOADED_DLLS)
    find_library(LANTERNBROOK_IMPORT_LIBRARY_${dll} NAMES lib${dll}.a REQUIRED)
    add_custom_command(
      OUTPUT ${folder}/lib${dll}.a
      COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
              -DIMPORT_LIBRARY=${LANTERNBROOK_IMPORT_LIBRARY_${dll}} -DDLL=${dll}.dll
              -DFOLDER=${folder} -P ${PROJECT_SOURCE_DIR}/cmake/make_delay_library.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_delay_library.cmake
              ${LANTERNBROOK_IMPORT_LIBRARY_${dll}}
      COMMENT "Delay-load import library of ${dll}.dll for ${target}")
    list(APPEND libraries ${folder}/lib${dll}.a)
  endforeach()
  add_custom_target(${target}_delay_load DEPENDS ${libraries})
  add_dependencies(${target} ${target}_delay_load)
  target_link_directories(${target} PRIVATE ${folder})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()
