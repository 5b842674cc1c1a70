#include "core/store/CipherKey.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <random>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace corvane {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCacheEntries = 64; // the newest first
constexpr std::string_view kPlainHeader{"SQLite format 3\0", 16};

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string Hex(const CipherSalt& salt) {
    return Hex(std::string_view(reinterpret_cast<const char*>(salt.data()), salt.size()));
}

bool IsHex(std::string_view text, std::size_t length) {
    if (text.size() != length) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string FromHex(std::string_view hex) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return out;
}

// Tells keys of different passphrases for the same salt apart in the cache file.
std::string PassphraseTag(std::string_view passphrase) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(passphrase.data(), passphrase.size(), digest, &size, EVP_sha256(), nullptr);
    return Hex(std::string_view(reinterpret_cast<const char*>(digest), 8));
}

// One line of the cache file: "<salt> <passphrase tag> <key>", in hexadecimal.
struct Entry {
    std::string salt, tag, key;
};

std::vector<Entry> ReadCache(const std::string& file) {
    std::vector<Entry> entries;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line) && entries.size() < kCacheEntries;) {
        std::istringstream fields(line);
        Entry e;
        // A line that is not an entry (a damaged or foreign file) is passed over.
        if (fields >> e.salt >> e.tag >> e.key && IsHex(e.salt, 2 * kSaltSize) &&
            IsHex(e.tag, 16) && IsHex(e.key, 2 * kRawKeySize))
            entries.push_back(std::move(e));
    }
    return entries;
}

// Written beside and renamed into place, so a reader never sees half a file. A cache
// that cannot be written only costs the next run a derivation.
void WriteCache(const std::string& file, const std::vector<Entry>& entries) {
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    std::string temp = file + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return;
    std::string text;
    for (const Entry& e : entries)
        text += e.salt + " " + e.tag + " " + e.key + "\n";
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) ::unlink(temp.c_str());
}

std::mutex gMutex;
std::map<std::string, std::string> gKeys; // by passphrase tag and salt

} // namespace

void PrepareCrypto() {
    static const bool started =
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)started;
}

std::optional<CipherSalt> FileSalt(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char head[kSaltSize];
    std::size_t got = 0;
    while (got < kSaltSize) {
        const ssize_t n = ::read(fd, head + got, kSaltSize - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got < kSaltSize || std::string_view(head, kSaltSize) == kPlainHeader) return std::nullopt;
    CipherSalt salt;
    std::copy(head, head + kSaltSize, salt.begin());
    return salt;
}

CipherSalt NewSalt() {
    CipherSalt salt{};
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
        std::random_device device;
        for (auto& b : salt)
            b = static_cast<std::uint8_t>(device());
    }
    return salt;
}

std::string DeriveRawKey(std::string_view passphrase, const CipherSalt& salt) {
    std::string key(kRawKeySize, '\0');
    PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), salt.data(),
                      static_cast<int>(salt.size()), kKdfRounds, EVP_sha1(),
                      static_cast<int>(key.size()), reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

std::string KeyCacheFile() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    // A relative path is not a cache folder, as the XDG rules say.
    if (cache && *cache == '/') return std::string(cache) + "/corvane/library-keys";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache/corvane/library-keys";
    return {};
}

std::optional<std::string> CachedRawKey(std::string_view passphrase, const CipherSalt& salt) {
    const std::string tag = PassphraseTag(passphrase);
    const std::string saltHex = Hex(salt);
    const std::lock_guard lock(gMutex);
    if (const auto it = gKeys.find(tag + saltHex); it != gKeys.end()) return it->second;
    const std::string file = KeyCacheFile();
    if (file.empty()) return std::nullopt;
    for (const Entry& e : ReadCache(file))
        if (e.salt == saltHex && e.tag == tag) return gKeys[tag + saltHex] = FromHex(e.key);
    return std::nullopt;
}

void KeepRawKey(std::string_view passphrase, const CipherSalt& salt, const std::string& rawKey) {
    const std::string tag = PassphraseTag(passphrase);
    const std::string saltHex = Hex(salt);
    const std::string keyHex = Hex(rawKey);
    const std::lock_guard lock(gMutex);
    gKeys[tag + saltHex] = rawKey;
    const std::string file = KeyCacheFile();
    if (file.empty()) return;
    std::vector<Entry> entries{{saltHex, tag, keyHex}};
    for (Entry& e : ReadCache(file))
        if ((e.salt != saltHex || e.tag != tag) && entries.size() < kCacheEntries)
            entries.push_back(std::move(e));
    WriteCache(file, entries);
}

std::string RawKeyText(const std::string& rawKey, const CipherSalt& salt) {
    return "x'" + Hex(rawKey) + Hex(salt) + "'";
}

} // namespace corvane
