# The publisher's public keys built into the installer.
#
# lanternbrook_write_release_keys(<output .cpp> <key files>)
# Writes the definition of BuiltInReleaseKeyFiles (install/release_keys.h):
# the text of every public key file of the `;` list, in order; an empty list
# gives no key. Each file must look like a public key file of
# lanternbrook-release keygen (the installer checks the rest).
#
# Also run as a script (cmake -DOUTPUT=<file> -DKEY_FILES=<list> -P ...) by
# builds that make their keys while they build.
function(lanternbrook_write_release_keys output key_files)
  set(entries "")
  foreach(key_file IN LISTS key_files)
    if(NOT IS_ABSOLUTE "${key_file}" OR NOT EXISTS "${key_file}")
      message(FATAL_ERROR "LANTERNBROOK_RELEASE_PUBLIC_KEY: \"${key_file}\" is not an existing file (give an absolute path)")
    endif()
    file(READ "${key_file}" text)
    if(NOT text MATCHES "^lanternbrook-release public key\nalgorithm RSA-3072-PSS-SHA256\nkey-id [0-9a-f]+\nkey [0-9a-f]+\n$")
      message(FATAL_ERROR "LANTERNBROOK_RELEASE_PUBLIC_KEY: \"${key_file}\" is not a public key file of lanternbrook-release keygen")
    endif()
    string(APPEND entries "    R\"key(${text})key\",\n")
  endforeach()
  if(entries STREQUAL "")
    set(body "std::span<const std::string_view> BuiltInReleaseKeyFiles() { return {}; }\n")
  else()
    set(body "namespace {\nconstexpr std::string_view kKeyFiles[] = {\n${entries}};\n}  // namespace\n\nstd::span<const std::string_view> BuiltInReleaseKeyFiles() { return kKeyFiles; }\n")
  endif()
  set(content "// Generated from the build setting LANTERNBROOK_RELEASE_PUBLIC_KEY.\n#include \"install/release_keys.h\"\n\n${body}")
  # Written only when it changes, so that a configure run rebuilds nothing.
  if(EXISTS "${output}")
    file(READ "${output}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${output}" "${content}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  lanternbrook_write_release_keys("${OUTPUT}" "${KEY_FILES}")
endif()
