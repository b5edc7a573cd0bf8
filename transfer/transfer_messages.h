#pragma once
// The download's messages that more than one step of it raises.
inline constexpr char kInterrupted[] = "A conexao foi interrompida.";
inline constexpr char kWriteFailed[] = "Falha ao gravar a atualizacao.";
inline constexpr char kCannotWrite[] = "Nao foi possivel gravar os arquivos na Area de Trabalho.";
