// One manifest entry from the update server into the application folder,
// through a resumable partial file under ".install-staging".
//
// Messages (std::runtime_error):
//   "Caminho inseguro no manifesto."                  the path rule refused `path`
//   "URL de arquivo insegura no manifesto."           the URL rule refused `url`
//   HttpGet's messages                                the request failed
//   "O servidor recusou um arquivo da atualizacao."   any status but 200 and 206 (416 included)
//   "Nao foi possivel gravar os arquivos na Area de Trabalho."  the partial file cannot be opened
//   "A conexao foi interrompida."                     querying or reading the body failed
//   "Falha ao gravar a atualizacao."                  a write or the flush failed
//   "Um arquivo recebido falhou na verificacao SHA-256."  size or digest differ, or the
//                                                     server sent more than `size` bytes
//   "Nao foi possivel finalizar um arquivo da instalacao."  the final rename failed
// plus ComputeFileSha256's and Utf8ToWide's messages and FilesystemError for
// "exists", "create_directories" and "remove".
#include "transfer/install_file.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "common/filesystem_error.h"
#include "common/paths.h"
#include "finish/file_digest.h"
#include "install/progress.h"
#include "manifest/utf8_to_wide.h"
#include "transfer/file_url.h"
#include "transfer/manifest_path.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kVerifying[] = L"Verificando instalacao";
constexpr wchar_t kDownloading[] = L"Baixando Lanternbrook";
constexpr char kVerificationFailed[] = "Um arquivo recebido falhou na verificacao SHA-256.";

// Size of a regular file; false when it cannot be read (missing, a folder...).
bool ReadFileSize(const std::wstring& path, std::uint64_t& size) {
  std::error_code error;
  const std::uintmax_t value = fs::file_size(fs::path(path), error);
  if (error) return false;
  size = value;
  return true;
}

void CreateParentDirectories(const std::wstring& path) {
  const fs::path parent(ParentPath(path));
  std::error_code error;
  fs::create_directories(parent, error);
  if (error) ThrowFilesystemError("create_directories", parent, error);
}

void RemoveFile(const std::wstring& path) {
  std::error_code error;
  fs::remove(fs::path(path), error);
  if (error) ThrowFilesystemError("remove", fs::path(path), error);
}

bool HasDigest(const std::wstring& path, const std::wstring& hash) {
  return DigestsMatch(ComputeFileSha256(path), hash);
}

void MoveIntoPlace(const std::wstring& part_path, const std::wstring& target_path) {
  CreateParentDirectories(target_path);
  if (!MoveFileExW(part_path.c_str(), target_path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("Nao foi possivel finalizar um arquivo da instalacao.");
  }
}

}  // namespace

void InstallFile(HttpSession session, const ManifestFile& file, const std::wstring& app_dir,
                 std::uint64_t& bytes_done, std::uint64_t bytes_total) {
  // 1. Nothing on disk is touched before the path is accepted.
  const std::wstring relative = NormalizeManifestPath(file.path);
  const std::wstring hash = Utf8ToWide(file.hash);
  const std::wstring target_path = JoinPath(app_dir, relative);
  const std::wstring staging_root = JoinPath(app_dir, StagingFolderName);
  const std::wstring part_path = JoinPath(staging_root, relative + L".part");

  // 2. An intact target is left alone.
  {
    std::error_code error;
    const bool exists = fs::exists(fs::path(target_path), error);
    if (error) ThrowFilesystemError("exists", fs::path(target_path), error);
    std::uint64_t size = 0;
    if (exists && ReadFileSize(target_path, size) && size == file.size &&
        HasDigest(target_path, hash)) {
      bytes_done += file.size;
      PostProgress(kVerifying, relative, bytes_done, bytes_total);
      return;
    }
  }

  // 3. The staging tree mirrors the manifest's.
  CreateParentDirectories(part_path);

  // 4. A partial file left by an earlier run.
  std::uint64_t partial = 0;
  if (!ReadFileSize(part_path, partial)) partial = 0;
  std::uint64_t resume_offset = 0;
  if (partial > file.size) {
    RemoveFile(part_path);
  } else if (partial == file.size && partial != 0) {
    if (HasDigest(part_path, hash)) {
      MoveIntoPlace(part_path, target_path);
      bytes_done += file.size;
      PostProgress(kVerifying, relative, bytes_done, bytes_total);
      return;
    }
    RemoveFile(part_path);
  } else {
    resume_offset = partial;
  }

  // 5. Announce.
  bytes_done += resume_offset;
  PostProgress(kDownloading, relative, bytes_done, bytes_total);

  // 6. Request; the response outlives everything below and is closed last.
  const std::wstring url = ResolveFileUrl(file.url);
  HttpResponse response = HttpGet(session, url, resume_offset, resume_offset != 0);

  // 7. Status.
  bool append = false;
  if (resume_offset != 0 && response.status == 206) {
    append = true;
  } else if (resume_offset != 0 && response.status == 200) {
    bytes_done -= resume_offset;  // the server starts over from byte 0
  } else if (resume_offset != 0 || (response.status != 200 && response.status != 206)) {
    throw std::runtime_error("O servidor recusou um arquivo da atualizacao.");
  }

  // 8. Open the partial file.
  FileHandle part(CreateFileW(part_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!part) throw std::runtime_error("Nao foi possivel gravar os arquivos na Area de Trabalho.");
  std::uint64_t length = 0;  // bytes in the partial file
  if (append) {
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(part.get(), LARGE_INTEGER{}, &end, FILE_END)) {
      throw std::runtime_error("Falha ao gravar a atualizacao.");
    }
    length = static_cast<std::uint64_t>(end.QuadPart);
  }

  // 9. Body: one buffer for every chunk, each chunk written as it arrives.
  const auto buffer = std::make_unique<char[]>(DownloadBufferSize);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(response.request.get(), &available)) {
      throw std::runtime_error("A conexao foi interrompida.");
    }
    if (available == 0) break;
    while (available != 0) {
      const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(DownloadBufferSize));
      DWORD read = 0;
      if (!WinHttpReadData(response.request.get(), buffer.get(), wanted, &read)) {
        throw std::runtime_error("A conexao foi interrompida.");
      }
      if (read == 0) break;
      if (read > file.size - std::min(length, file.size)) {
        // The body runs past the manifest's size: it cannot verify, and
        // writing on would only fill the disk.
        part.reset();
        RemoveFile(part_path);
        throw std::runtime_error(kVerificationFailed);
      }
      DWORD written = 0;
      if (!WriteFile(part.get(), buffer.get(), read, &written, nullptr) || written != read) {
        throw std::runtime_error("Falha ao gravar a atualizacao.");
      }
      length += read;
      bytes_done += read;
      available -= std::min(available, read);
      PostProgress(kDownloading, relative, bytes_done, bytes_total);
    }
  }

  // 10. Verify.
  if (!FlushFileBuffers(part.get())) throw std::runtime_error("Falha ao gravar a atualizacao.");
  part.reset();
  std::uint64_t received = 0;
  if (!ReadFileSize(part_path, received)) received = 0;
  if (received != file.size || !HasDigest(part_path, hash)) {
    RemoveFile(part_path);
    throw std::runtime_error(kVerificationFailed);
  }

  // 11. Move into place.
  MoveIntoPlace(part_path, target_path);
}
