// One manifest entry from the update server into the application folder,
// through a resumable partial file under ".install-staging".
//
// Messages (std::runtime_error):
//   "Caminho inseguro no manifesto."                  the path rule refused `path`
//   "URL de arquivo insegura no manifesto."           the URL rule refused `url`
//   HttpGet's messages                                the request failed
//   "O servidor recusou um arquivo da atualizacao."   any status but 200 and 206 (416 included)
//   "Nao foi possivel gravar os arquivos na Area de Trabalho."  the partial file cannot be opened
//   "A conexao foi interrompida."                     querying or reading the body failed, or
//                                                     the body ended before `size` bytes
//   "Falha ao gravar a atualizacao."                  a write or the flush failed
//   "Um arquivo recebido falhou na verificacao SHA-256."  the digest differs, or the
//                                                     server sent more than `size` bytes
//   "Nao foi possivel finalizar um arquivo da instalacao."  the final rename failed
// plus ComputeFileSha256's and Utf8ToWide's messages and FilesystemError for
// "exists", "create_directories" and "remove".
#include "transfer/install_file.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "common/files.h"
#include "common/paths.h"
#include "common/win_handles.h"
#include "finish/file_digest.h"
#include "install/progress.h"
#include "common/text.h"
#include "transfer/block_download.h"
#include "transfer/file_url.h"
#include "transfer/manifest_path.h"
#include "transfer/transfer_messages.h"

namespace {

constexpr wchar_t kVerifying[] = L"Verificando instalacao";
constexpr wchar_t kDownloading[] = L"Baixando Lanternbrook";
constexpr char kVerificationFailed[] = "Um arquivo recebido falhou na verificacao SHA-256.";

// Everything one call works on.
struct FileJob {
  const ManifestFile& file;
  std::wstring relative;  // the normalised path: detail line of every post
  std::wstring hash;
  std::wstring target_path;
  std::wstring part_path;
  std::uint64_t& bytes_done;
  std::uint64_t bytes_total;

  void Post(const wchar_t* status) const {
    PostProgress(status, relative, bytes_done, bytes_total);
  }
  bool HasDigest(const std::wstring& path) const {
    return DigestsMatch(ComputeFileSha256(path), hash);
  }
};

// The file already in place, with the manifest's size and digest.
bool TargetIsIntact(const FileJob& job) {
  const std::optional<std::uint64_t> size = ExistingFileSize(job.target_path);
  return size && *size == job.file.size && job.HasDigest(job.target_path);
}

// The verified file onto its target, in one rename that is on disk when it
// returns.
void MoveIntoPlace(const FileJob& job) {
  CreateDirectories(ParentPath(job.target_path));
  if (!ReplaceByRename(job.part_path, job.target_path)) {
    throw std::runtime_error("Nao foi possivel finalizar um arquivo da instalacao.");
  }
}

// Where to continue a partial file left by an earlier run: its length, or 0
// when there is none or it cannot be continued (then it is gone). True in
// `finished` when it was complete and valid and has been moved into place.
std::uint64_t ResumeOffset(const FileJob& job, bool& finished) {
  finished = false;
  const std::uint64_t partial = RegularFileSize(job.part_path).value_or(0);
  if (partial < job.file.size) return partial;
  if (partial == job.file.size && job.HasDigest(job.part_path)) {
    MoveIntoPlace(job);
    finished = true;
    return 0;
  }
  RemovePath(job.part_path);  // too long, or complete with another digest
  return 0;
}

// The request, judged by its status: true when the body continues the partial
// file (206 to a range request), false when it starts the file afresh.
bool Request(const FileJob& job, HttpSession session, std::uint64_t resume_offset,
             HttpResponse& response) {
  const std::wstring url = ResolveFileUrl(job.file.url);
  response = HttpGet(session, url, resume_offset, resume_offset != 0);
  if (resume_offset != 0 && response.status == 206) return true;
  if (resume_offset != 0 && response.status == 200) {
    job.bytes_done -= resume_offset;  // the server starts over from byte 0
    return false;
  }
  if (resume_offset == 0 && (response.status == 200 || response.status == 206)) return false;
  throw std::runtime_error("O servidor recusou um arquivo da atualizacao.");
}

// Opens the partial file for appending or afresh; `length` is what it holds.
FileHandle OpenPartialFile(const FileJob& job, bool append, std::uint64_t& length) {
  FileHandle part(CreateFileW(job.part_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!part) throw std::runtime_error(kCannotWrite);
  length = 0;
  if (append) {
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(part.get(), LARGE_INTEGER{}, &end, FILE_END)) {
      throw std::runtime_error(kWriteFailed);
    }
    length = static_cast<std::uint64_t>(end.QuadPart);
  }
  return part;
}

// The body, chunk by chunk as it arrives, each written and posted at once.
// Every chunk written stays in the partial file whatever happens next. False
// when the body runs past the manifest's size: nothing past `size` is written,
// as such a file cannot verify and writing on would only fill the disk.
bool ReceiveBody(const FileJob& job, const HttpResponse& response, const FileHandle& part,
                 std::uint64_t& length) {
  return ReadResponseBody(response, kInterrupted, kInterrupted, [&](const char* bytes, DWORD read) {
    if (read > job.file.size - std::min(length, job.file.size)) return false;
    DWORD written = 0;
    if (!WriteFile(part.get(), bytes, read, &written, nullptr) || written != read) {
      throw std::runtime_error(kWriteFailed);
    }
    length += read;
    job.bytes_done += read;
    job.Post(kDownloading);
    return true;
  });
}

}  // namespace

void InstallFile(HttpSession session, const ManifestFile& file, const std::wstring& app_dir,
                 std::uint64_t& bytes_done, std::uint64_t bytes_total) {
  // 1. Path: nothing on disk is touched before it is accepted.
  const std::wstring relative = NormalizeManifestPath(file.path);
  const FileJob job{file,
                    relative,
                    Utf8ToWide(file.hash),
                    JoinPath(app_dir, relative),
                    JoinPath(JoinPath(app_dir, StagingFolderName), relative + L".part"),
                    bytes_done,
                    bytes_total};

  // 2. An intact target is left alone.
  if (TargetIsIntact(job)) {
    bytes_done += file.size;
    job.Post(kVerifying);
    return;
  }

  // 3. The staging tree mirrors the manifest's.
  CreateDirectories(ParentPath(job.part_path));

  // 4. A partial file left by an earlier run.
  bool finished = false;
  const std::uint64_t resume_offset = ResumeOffset(job, finished);
  if (finished) {
    bytes_done += file.size;
    job.Post(kVerifying);
    return;
  }

  // 5. Announce.
  const std::uint64_t done_before = bytes_done;
  bytes_done += resume_offset;
  job.Post(kDownloading);

  // An old copy in place and a block list: the blocks the old copy has are
  // copied, the others fetched. What that leaves is the whole file, to be
  // verified like a download, or a prefix for the plain download to go on
  // from; so is a whole file that fails its digest, from its first byte.
  std::uint64_t offset = resume_offset;
  if (file.blocks && ExistingFileSize(job.target_path)) {
    offset = ContinueByBlocks(session, file, job.target_path, job.part_path, resume_offset,
                              [&](std::uint64_t count) {
                                bytes_done += count;
                                job.Post(kDownloading);
                              });
    if (offset == file.size) {
      if (job.HasDigest(job.part_path)) {
        MoveIntoPlace(job);
        return;
      }
      RemovePath(job.part_path);
      offset = 0;
    }
    if (bytes_done != done_before + offset) {
      bytes_done = done_before + offset;
      job.Post(kDownloading);
    }
  }

  // 6. Request and status; the response outlives everything below.
  HttpResponse response;
  const bool append = Request(job, session, offset, response);

  // 7. The partial file and the body.
  std::uint64_t length = 0;
  {
    FileHandle part = OpenPartialFile(job, append, length);
    if (!ReceiveBody(job, response, part, length)) {
      part.reset();
      RemovePath(job.part_path);
      throw std::runtime_error(kVerificationFailed);
    }
    if (!FlushFileBuffers(part.get())) throw std::runtime_error(kWriteFailed);
  }

  // 8. Verify. A body that ended short is a connection closed early, not a
  // bad file: its bytes stay for the next run to continue from. What lies on
  // disk is then measured: only a regular file of the manifest's size is read
  // for its digest.
  if (length < file.size) throw std::runtime_error(kInterrupted);
  if (RegularFileSize(job.part_path) != file.size || !job.HasDigest(job.part_path)) {
    RemovePath(job.part_path);
    throw std::runtime_error(kVerificationFailed);
  }

  // 9. Move into place.
  MoveIntoPlace(job);
}
