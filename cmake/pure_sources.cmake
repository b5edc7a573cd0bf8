# The pure logic: text, paths, JSON, the manifest, the path and address rules,
# argument quoting, the version.json document, the block list and its cutting. No <windows.h>; built into
# lb_pure for Windows and, with its table tests, for the host (tests/host).
# Paths are relative to the repository.
set(LANTERNBROOK_PURE_SOURCES
  common/paths.cpp
  common/text.cpp
  finish/install_metadata.cpp
  install/launch_arguments.cpp
  manifest/json_reader.cpp
  manifest/json_writer.cpp
  manifest/release_key_files.cpp
  manifest/update_manifest.cpp
  transfer/block_list.cpp
  transfer/content_chunker.cpp
  transfer/file_url.cpp
  transfer/manifest_path.cpp)
