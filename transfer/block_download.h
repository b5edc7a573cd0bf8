#pragma once
// Building a file's new content from the old copy in the application folder:
// the blocks the old copy already holds are copied, the others fetched with
// range requests, always appended in order to the partial file, so that it
// stays a prefix of the new file. Called by InstallFile on the worker thread.
#include <cstdint>
#include <functional>
#include <string>

#include "manifest/update_manifest.h"
#include "transfer/http_request.h"

// What ContinueByBlocks leaves in the partial file.
struct BlockBuild {
  std::uint64_t length = 0;  // its length
  bool verified = false;     // the whole file, with the manifest's SHA-256
};

// Continues `part_path`, which holds the first `length` (< file.size) bytes of
// the new file, from the old copy at `target_path` and the file's block list
// (`file.blocks`, which must be present; fetched once and kept beside the
// partial file as `part_path` + ".blocks" for the runs that continue it). Each
// append of n bytes is reported with appended(n). Returns the partial file's
// length on return: the whole file.size when every block was built and checked
// against the list, with `verified` set when the whole file's SHA-256, computed
// over the bytes as they were written (those of the earlier run read back), is
// the manifest's; or otherwise a prefix of it whose blocks written here all
// matched the list, from which the plain download carries on. That is the
// answer to every failure of this path: a block list that cannot be fetched,
// has the wrong size or digest or is malformed; an old copy that cannot be
// read; a range answered with another status or range; bytes that disagree with
// the list.
// Memory: one 1 MiB read buffer, the list and the index of its blocks (one
// block per 16 KiB of the file at worst: ~2.3 MiB for 256 MiB).
// Throws "A conexao foi interrompida." when a fetched body breaks off (every
// byte received stays in the partial file), "Falha ao gravar a atualizacao."
// when a write fails, "Nao foi possivel gravar os arquivos na Area de
// Trabalho." when the partial file cannot be opened, and HttpGet's messages.
BlockBuild ContinueByBlocks(HttpSession session, const ManifestFile& file,
                            const std::wstring& target_path, const std::wstring& part_path,
                            std::uint64_t length,
                            const std::function<void(std::uint64_t count)>& appended);
