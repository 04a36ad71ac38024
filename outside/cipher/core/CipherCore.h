#pragma once
// The cipher shared by the COM component and the account service.
// Standard C++ types only: this header is included from Win32 units too.
//
// Ciphertext = base64(tag[9] | nonce[24] | XChaCha20-Poly1305(plain)), where the
// tag is a one-way digest of the key text. The first 12 characters of every
// ciphertext are therefore the key's tag, which lets the service find the
// session a request belongs to without deciphering it.
#include <optional>
#include <string>

namespace zfcipher {

constexpr std::size_t kTagChars = 12;

// Plain text and key text are byte strings (UTF-8 from the component).
std::string Encipher(const std::string& plain, const std::string& keyText);
std::optional<std::string> Decipher(const std::string& cipherText, const std::string& keyText);

// The tag every ciphertext made with keyText begins with.
std::string KeyTag(const std::string& keyText);
// The tag a ciphertext carries, or nothing when it is too short to hold one.
std::optional<std::string> TagOf(const std::string& cipherText);

// Printable random text for session keys (letters and digits).
std::string RandomKeyText(std::size_t length);

}  // namespace zfcipher
