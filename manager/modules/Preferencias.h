// The manager's settings file: the response time, kept between runs.
#pragma once

#include <filesystem>
#include <string>

namespace modrevo {

inline const std::string kTempoPadrao = "2000";

// Modrevo.INI in $XDG_CONFIG_HOME when that is an absolute path, else in ~/.config.
std::filesystem::path CaminhoPreferencias();

// The stored response-time text, or `atual` when the file, the key or a readable file is
// missing, or when FormVersion is negative. Never creates anything.
std::string CarregaTempoResposta(const std::filesystem::path& arquivo, const std::string& atual);

// Stores the text trimmed of blanks and control characters. Creates the folder when needed.
// Raises common::EFileError "Unable to write to <path>" when it cannot.
void SalvaTempoResposta(const std::filesystem::path& arquivo, const std::string& texto);

}  // namespace modrevo
