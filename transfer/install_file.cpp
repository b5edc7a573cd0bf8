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

  bool HasDigest(const std::wstring& path) const {
    return DigestsMatch(ComputeFileSha256(path), hash);
  }
};

// The run's byte count, as the progress bar shows it.
struct Progress {
  const std::wstring& relative;
  std::uint64_t& bytes_done;
  std::uint64_t bytes_total;

  void Post(const wchar_t* status) const {
    PostProgress(status, relative, bytes_done, bytes_total);
  }
  // Sets the count to `bytes` and posts it when it changed.
  void Correct(std::uint64_t bytes) {
    if (bytes_done == bytes) return;
    bytes_done = bytes;
    Post(kDownloading);
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

// What an earlier run left in the staging folder.
struct Resume {
  bool finished = false;    // a complete, valid partial file, now moved into place
  std::uint64_t offset = 0;  // otherwise where to continue (0: afresh)
};

// The partial file's length when it can be continued; a complete one with the
// manifest's digest is moved into place; anything else is deleted.
Resume ResumeFromPartial(const FileJob& job) {
  const std::uint64_t partial = RegularFileSize(job.part_path).value_or(0);
  if (partial < job.file.size) return {false, partial};
  if (partial == job.file.size && job.HasDigest(job.part_path)) {
    MoveIntoPlace(job);
    return {true, 0};
  }
  RemovePath(job.part_path);  // too long, or complete with another digest
  return {};
}

// A response whose body continues the partial file (`append`: 206 to a range
// request) or starts it afresh.
struct Answer {
  HttpResponse response;
  bool append = false;
};

// The request from `offset`, judged by its status.
Answer Request(const FileJob& job, HttpSession session, std::uint64_t offset) {
  std::optional<ByteRange> range;
  if (offset != 0) range = ByteRange{offset, std::nullopt};
  Answer answer{HttpGet(session, ResolveFileUrl(job.file.url), range)};
  const std::uint32_t status = answer.response.status;
  if (offset != 0 && status == 206) {
    answer.append = true;
  } else if (status != 200 && (offset != 0 || status != 206)) {
    throw std::runtime_error("O servidor recusou um arquivo da atualizacao.");
  }
  return answer;
}

// The partial file, opened for appending or afresh, and what it holds.
struct PartialFile {
  FileHandle handle;
  std::uint64_t length = 0;
};

PartialFile OpenPartialFile(const FileJob& job, bool append) {
  PartialFile part{FileHandle(CreateFileW(job.part_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                          nullptr))};
  if (!part.handle) throw std::runtime_error(kCannotWrite);
  if (append) {
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(part.handle.get(), LARGE_INTEGER{}, &end, FILE_END)) {
      throw std::runtime_error(kWriteFailed);
    }
    part.length = static_cast<std::uint64_t>(end.QuadPart);
  }
  return part;
}

// The body, chunk by chunk as it arrives, each written and posted at once.
// Every chunk written stays in the partial file whatever happens next. False
// when the body runs past the manifest's size: nothing past `size` is written,
// as such a file cannot verify and writing on would only fill the disk.
bool ReceiveBody(const FileJob& job, const HttpResponse& response, PartialFile& part,
                 Progress& progress) {
  return ReadResponseBody(response, kInterrupted, kInterrupted, [&](const char* bytes, DWORD read) {
    if (read > job.file.size - std::min(part.length, job.file.size)) return false;
    DWORD written = 0;
    if (!WriteFile(part.handle.get(), bytes, read, &written, nullptr) || written != read) {
      throw std::runtime_error(kWriteFailed);
    }
    part.length += read;
    progress.bytes_done += read;
    progress.Post(kDownloading);
    return true;
  });
}

}  // namespace

void InstallFile(HttpSession session, const ManifestFile& file, const std::wstring& app_dir,
                 std::uint64_t& bytes_done, std::uint64_t bytes_total) {
  // Nothing on disk is touched before the path is accepted.
  const std::wstring relative = NormalizeManifestPath(file.path);
  const FileJob job{file, relative, Utf8ToWide(file.hash), JoinPath(app_dir, relative),
                    JoinPath(JoinPath(app_dir, StagingFolderName), relative + L".part")};
  Progress progress{relative, bytes_done, bytes_total};

  // An intact target is left alone.
  if (TargetIsIntact(job)) {
    bytes_done += file.size;
    progress.Post(kVerifying);
    return;
  }

  // The staging tree mirrors the manifest's; a partial file left by an
  // earlier run is finished or continued.
  CreateDirectories(ParentPath(job.part_path));
  const Resume resume = ResumeFromPartial(job);
  if (resume.finished) {
    bytes_done += file.size;
    progress.Post(kVerifying);
    return;
  }
  const std::uint64_t done_before = bytes_done;
  bytes_done += resume.offset;
  progress.Post(kDownloading);

  // An old copy in place and a block list: the blocks the old copy has are
  // copied, the others fetched. What that leaves is the whole file, digested
  // as it was written, or a prefix for the plain download to go on from; so
  // is a whole file that fails its digest, from its first byte.
  std::uint64_t offset = resume.offset;
  if (file.blocks && ExistingFileSize(job.target_path)) {
    const BlockBuild built =
        ContinueByBlocks(session, file, job.target_path, job.part_path, resume.offset,
                         [&](std::uint64_t count) {
                           bytes_done += count;
                           progress.Post(kDownloading);
                         });
    if (built.verified) {
      MoveIntoPlace(job);
      return;
    }
    offset = built.length;
    if (offset == file.size) {
      RemovePath(job.part_path);
      offset = 0;
    }
    progress.Correct(done_before + offset);
  }

  // The request; a server that starts over from byte 0 is counted so. The
  // response outlives the body's reading.
  const Answer answer = Request(job, session, offset);
  if (!answer.append) bytes_done = done_before;

  {
    PartialFile part = OpenPartialFile(job, answer.append);
    if (!ReceiveBody(job, answer.response, part, progress)) {
      part.handle.reset();
      RemovePath(job.part_path);
      throw std::runtime_error(kVerificationFailed);
    }
    if (!FlushFileBuffers(part.handle.get())) throw std::runtime_error(kWriteFailed);
    // A body that ended short is a connection closed early, not a bad file:
    // its bytes stay for the next run to continue from.
    if (part.length < file.size) throw std::runtime_error(kInterrupted);
  }

  // Verify what lies on disk: only a regular file of the manifest's size is
  // read for its digest. Then one rename puts it into place.
  if (RegularFileSize(job.part_path) != file.size || !job.HasDigest(job.part_path)) {
    RemovePath(job.part_path);
    throw std::runtime_error(kVerificationFailed);
  }
  MoveIntoPlace(job);
}
