#pragma once
// A file cut into blocks the way the block list cuts it (NextBlockLength), in
// one sequential pass with one buffer of 1 MiB. Win32; any thread.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include <windows.h>

#include "transfer/block_list.h"

// Hands every block of the open file, from its current position to its end, to
// `each(offset, bytes)` in order; `bytes` is valid during the call only.
// Throws std::runtime_error("Nao foi possivel validar um arquivo baixado.")
// when a read fails, and whatever `each` throws.
void ForEachFileBlock(HANDLE file,
                      const std::function<void(std::uint64_t offset,
                                               std::span<const std::uint8_t> bytes)>& each);

// The block list of the file at `path` (read shared, as the digest reads).
// Throws the messages of ForEachFileBlock and of Sha256, and the same message
// when the file cannot be opened.
BlockList MakeBlockList(const std::wstring& path);
