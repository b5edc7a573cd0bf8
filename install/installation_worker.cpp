#include "install/installation_worker.h"

#include <windows.h>
#include <objbase.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_folder.h"
#include "app/globals.h"
#include "app/messages.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/win_handles.h"
#include "common/winhttp_handle.h"
#include "finish/desktop_shortcut.h"
#include "finish/install_metadata.h"
#include "finish/install_metadata_writer.h"
#include "finish/updater_bootstrap.h"
#include "install/launch_arguments.h"
#include "install/progress.h"
#include "install/release_keys.h"
#include "install/staging_removal.h"
#include "manifest/json_reader.h"
#include "manifest/manifest_download.h"
#include "manifest/manifest_signature.h"
#include "manifest/update_manifest.h"
#include "transfer/http_request.h"
#include "transfer/install_file.h"
#include "transfer/manifest_path.h"
#include "transfer/path_collisions.h"

namespace {

constexpr DWORD ApplicationCloseTimeoutMs = 60000;
constexpr wchar_t MetadataFileName[] = L"version.json";
constexpr std::size_t MaxMetadataBytes = 65536;
constexpr char DowngradeText[] = "A atualizacao publicada e mais antiga que a instalada.";
constexpr wchar_t SuccessText[] = L"Lanternbrook instalado e verificado com sucesso.";

// This thread's single-threaded apartment; uninitialised once, and only when
// the initialisation succeeded (S_OK or S_FALSE).
class ComApartment {
 public:
  ComApartment() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() { Leave(); }

  void Leave() noexcept {
    if (SUCCEEDED(result_)) CoUninitialize();
    result_ = E_FAIL;
  }

 private:
  HRESULT result_;
};

// Waits up to a minute for the process `pid` (the running application) to end.
void WaitForApplicationToClose(std::uint32_t pid) {
  HANDLE raw = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (raw == INVALID_HANDLE_VALUE) raw = nullptr;
  KernelHandle process(raw);
  if (!process) return;  // already gone, or not ours to see
  if (WaitForSingleObject(process.get(), ApplicationCloseTimeoutMs) == WAIT_TIMEOUT) {
    throw std::runtime_error(
        "O Lanternbrook ainda esta aberto. Feche o programa e tente novamente.");
  }
}

// The keys this installer was built with; none when it was built without.
std::vector<ReleaseKeyFile> BuiltInKeys() {
  std::vector<ReleaseKeyFile> keys;
  for (std::string_view text : BuiltInReleaseKeyFiles()) {
    try {
      keys.push_back(LoadReleasePublicKey(text));
    } catch (const std::runtime_error&) {
      // The build checked the file's form; a key that still does not load
      // verifies nothing, and no manifest is run on trust.
      throw std::runtime_error(SignatureMismatchText);
    }
  }
  return keys;
}

// With `keys`, the manifest's exact bytes must carry a signature by one of
// them before the JSON reader sees them.
UpdateManifest FetchManifest(HttpSession session, const std::vector<ReleaseKeyFile>& keys) {
  const std::string body = DownloadManifest(session);
  if (!keys.empty()) {
    const std::string signatures = DownloadManifestSignature(session);
    if (!VerifyManifestSignature(body, signatures, keys).verified) {
      throw std::runtime_error(SignatureMismatchText);
    }
  }
  JsonCursor cursor{body.data(), body.data() + body.size()};
  return ParseManifest(cursor);  // the body goes when this returns
}

// A signed release never takes the folder back to an older build than the
// one its version.json names (an equal build is a repair). A version.json
// that is missing or not in the installer's own form names none.
void RefuseDowngrade(const std::wstring& app_dir, std::uint64_t build) {
  const std::optional<std::string> document =
      ReadSmallFile(JoinPath(app_dir, MetadataFileName), MaxMetadataBytes);
  if (!document) return;
  const std::optional<std::uint64_t> installed = ReadInstalledBuild(*document);
  if (installed && *installed > build) throw std::runtime_error(DowngradeText);
}

// One run, from the command line to the completion posted to the window: the
// manifest, every file, the updater, version.json, the shortcut and the
// staging folder's removal. Everything it owns (options, session, manifest)
// is released when it returns, after the completion has been posted, or while
// an exception unwinds.
void PerformInstallation(const std::vector<std::wstring>* arguments, ComApartment& com) {
  const std::vector<std::wstring> words = arguments ? *arguments : CommandLineArguments();
  // Known before anything can fail: with --quiet no failure may show a box,
  // not even a missing Desktop folder.
  g_quiet = ParseCommandLineArguments(words, std::wstring()).quiet;
  const InstallOptions options = ParseCommandLineArguments(words, GetDesktopFolder());

  if (options.wait_pid != 0) WaitForApplicationToClose(options.wait_pid);
  CreateDirectories(options.app_dir);
  const WinHttpHandle session = OpenHttpSession();

  PostProgress(L"Preparando instalacao", L"Consultando a versao mais recente...", 0, 1);
  const std::vector<ReleaseKeyFile> keys = BuiltInKeys();
  const UpdateManifest manifest = FetchManifest(session.get(), keys);
  if (!keys.empty()) RefuseDowngrade(options.app_dir, manifest.build);
  // Two entries that Windows takes for one file would overwrite each other.
  RejectSameFilePaths(manifest);

  std::uint64_t bytes_total = manifest.total_size + manifest.bootstrap_updater.size;
  if (bytes_total == 0) bytes_total = 1;
  std::uint64_t bytes_done = 0;
  for (const ManifestFile& file : manifest.files) {
    InstallFile(session.get(), file, options.app_dir, bytes_done, bytes_total);
  }
  InstallFile(session.get(), manifest.bootstrap_updater, options.app_dir, bytes_done, bytes_total);

  PostProgress(L"Finalizando instalacao", L"Criando atalhos e configurando atualizacoes...",
               bytes_total, bytes_total);
  InstallUpdater(options.app_dir);
  WriteInstallMetadata(JoinPath(options.app_dir, MetadataFileName),
                       BuildInstallMetadata(manifest.version, manifest.build));
  if (options.create_shortcut) CreateDesktopShortcut(options.app_executable);

  RemoveFolderTree(JoinPath(options.app_dir, StagingFolderName));

  if (options.launch_after_install) {
    g_launchPath = options.app_executable;
    g_launchArgs = BuildLaunchArguments(options.launch_args);
  }
  com.Leave();
  PostCompletion(g_mainWindow, true, SuccessText);
}

void Run(const std::vector<std::wstring>* arguments) {
  ComApartment com;
  try {
    PerformInstallation(arguments, com);
  } catch (const std::exception& failure) {
    PostCompletion(g_mainWindow, false, ExceptionTextToWide(failure.what()));
  }
}

}  // namespace

std::wstring ExceptionTextToWide(std::string_view text) {
  try {
    return Utf8ToWide(text);
  } catch (const std::runtime_error&) {
    // Not UTF-8: most likely a system message in the ANSI code page.
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring wide(length > 0 ? length : 0, L'\0');
    if (length > 0) {
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    }
    return wide;
  }
}

void RunInstallation() { Run(nullptr); }

void RunInstallationWithArguments(const std::vector<std::wstring>& arguments) { Run(&arguments); }
