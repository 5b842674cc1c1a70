// The raw page keys of encrypted libraries, derived once.
//
// SQLCipher derives a file's page key from the passphrase and the file's salt (its
// first 16 bytes) with PBKDF2-HMAC-SHA1 and 64,000 rounds, the settings every library
// is written with: a third of the time of a scan went there on every open. The
// passphrase of the library is a constant of the program, so the derived key is no
// secret either: it is derived once, kept for the process and in
// $XDG_CACHE_HOME/corvane/library-keys (else ~/.cache/corvane/) for the next run, and
// the file is opened with it in SQLCipher's raw key form. A key from the cache is only
// a guess: the connection checks that it opens the file and derives again otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr std::size_t kSaltSize = 16;
inline constexpr std::size_t kRawKeySize = 32;
inline constexpr int kKdfRounds = 64000;

using CipherSalt = std::array<std::uint8_t, kSaltSize>;

// Starts OpenSSL for the library files; a connection calls it before SQLCipher or the
// key functions here use OpenSSL: the algorithms of its default provider, without
// reading the system's OpenSSL configuration (about TLS and providers these files
// never use, and a millisecond of every start) and without a clean-up when the process
// ends.
void PrepareCrypto();

// The salt of an encrypted SQLCipher file: its first 16 bytes. Nothing for a missing or
// shorter file and for a plain SQLite file.
[[nodiscard]] std::optional<CipherSalt> FileSalt(const std::string& fileName);

// A salt for a new file, from the system's random source.
[[nodiscard]] CipherSalt NewSalt();

// The page key SQLCipher derives from `passphrase` and `salt` (kRawKeySize bytes).
[[nodiscard]] std::string DeriveRawKey(std::string_view passphrase, const CipherSalt& salt);

// The raw key of `passphrase` and `salt` kept in the process or in the cache file.
[[nodiscard]] std::optional<std::string> CachedRawKey(std::string_view passphrase,
                                                      const CipherSalt& salt);

// Keeps a raw key that opened its file, in the process and in the cache file.
void KeepRawKey(std::string_view passphrase, const CipherSalt& salt, const std::string& rawKey);

// The key as SQLCipher takes it: x'<key><salt>' in hexadecimal.
[[nodiscard]] std::string RawKeyText(const std::string& rawKey, const CipherSalt& salt);

// Where derived keys are kept between runs.
[[nodiscard]] std::string KeyCacheFile();

} // namespace corvane
