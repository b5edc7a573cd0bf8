#pragma once
// The installer's user-visible texts that more than one test file checks,
// spelled out here once and on purpose not taken from the installer's own
// constants: a changed text fails the tests. All ASCII (lbtest::Widen gives
// the UTF-16 form). Pure code, so that the host builds can include it.

namespace lbtest::texts {

// The User-Agent of every request, the installer's and the publisher tool's.
inline constexpr char kUserAgent[] = "Lanternbrook-Instalador/1.0";

// The window and its message boxes.
inline constexpr char kSuccessCaption[] = "Lanternbrook";
inline constexpr char kFailureCaption[] = "Instalacao do Lanternbrook";
inline constexpr char kFailedStatus[] = "Nao foi possivel concluir";
inline constexpr char kSuccess[] = "Lanternbrook instalado e verificado com sucesso.";
inline constexpr char kCloseRefused[] =
    "A instalacao ainda esta em andamento. Feche somente se desejar interromper o download; ele "
    "sera retomado depois.";

// Progress: status lines and details.
inline constexpr char kPreparing[] = "Preparando instalacao";
inline constexpr char kAskingForVersion[] = "Consultando a versao mais recente...";
inline constexpr char kDownloading[] = "Baixando Lanternbrook";
inline constexpr char kVerifying[] = "Verificando instalacao";
inline constexpr char kFinishing[] = "Finalizando instalacao";

// Failures of the run.
inline constexpr char kNetworkFailure[] = "Falha de rede ao receber a atualizacao.";
inline constexpr char kInterrupted[] = "A conexao foi interrompida.";
inline constexpr char kManifestRefused[] = "O servidor recusou o manifesto.";
inline constexpr char kManifestTooLarge[] = "Manifesto maior que o limite de seguranca.";
inline constexpr char kSignatureMismatch[] = "A assinatura da atualizacao nao confere.";
inline constexpr char kOlderRelease[] = "A atualizacao publicada e mais antiga que a instalada.";
inline constexpr char kFileRefused[] = "O servidor recusou um arquivo da atualizacao.";
inline constexpr char kDigestMismatch[] = "Um arquivo recebido falhou na verificacao SHA-256.";
inline constexpr char kBadUpdateUrl[] = "URL de atualizacao invalida.";
inline constexpr char kUnsafeUrl[] = "URL de arquivo insegura no manifesto.";
inline constexpr char kUnsafePath[] = "Caminho inseguro no manifesto.";
inline constexpr char kBadUtf8[] = "Texto UTF-8 invalido no manifesto.";
inline constexpr char kCannotWrite[] = "Nao foi possivel gravar os arquivos na Area de Trabalho.";
inline constexpr char kCannotFinishFile[] = "Nao foi possivel finalizar um arquivo da instalacao.";
inline constexpr char kWriteFailed[] = "Falha ao gravar a atualizacao.";
inline constexpr char kUpdaterFailed[] = "Falha ao instalar o atualizador do Lanternbrook.";
inline constexpr char kMetadataWriteFailed[] = "Falha ao gravar os metadados da instalacao.";

// The manifest reader.
inline constexpr char kBadJson[] = "JSON invalido no manifesto.";
inline constexpr char kNoValue[] = "Valor JSON ausente.";
inline constexpr char kBadString[] = "String JSON invalida.";
inline constexpr char kUnterminated[] = "String JSON nao terminada.";
inline constexpr char kBadEscape[] = "Escape JSON invalido.";
inline constexpr char kBadUnicode[] = "Escape Unicode invalido.";
inline constexpr char kShortUnicode[] = "Escape Unicode incompleto.";
inline constexpr char kBadNumber[] = "Numero JSON invalido.";
inline constexpr char kIncompleteManifest[] = "Manifesto de atualizacao incompleto.";
inline constexpr char kIncompleteEntry[] = "Arquivo incompleto no manifesto.";

}  // namespace lbtest::texts
