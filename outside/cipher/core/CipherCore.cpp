#include "CipherCore.h"

#include <sodium.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace zfcipher {
namespace {

constexpr std::size_t kTagBytes = 9;  // 12 base64 characters, no padding
constexpr std::size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kMacBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;

void EnsureSodium() {
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("libsodium could not be initialised");
}

// BLAKE2b with a per-purpose personalisation keeps the tag and the key unrelated.
template <std::size_t N>
std::array<unsigned char, N> Derive(const std::string& keyText, const char (&personal)[17]) {
  std::array<unsigned char, N> out{};
  crypto_generichash_blake2b_salt_personal(
      out.data(), out.size(), reinterpret_cast<const unsigned char*>(keyText.data()),
      keyText.size(), nullptr, 0, nullptr, reinterpret_cast<const unsigned char*>(personal));
  return out;
}

std::string ToBase64(const unsigned char* data, std::size_t size) {
  std::string out(sodium_base64_encoded_len(size, kVariant), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, kVariant);
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::optional<std::vector<unsigned char>> FromBase64(const std::string& text) {
  std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
  std::size_t size = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &size, &end,
                        kVariant) != 0 ||
      end != text.data() + text.size())
    return std::nullopt;
  out.resize(size);
  return out;
}

}  // namespace

std::string KeyTag(const std::string& keyText) {
  EnsureSodium();
  const auto tag = Derive<kTagBytes>(keyText, "zentrafold.tag\0\0");
  return ToBase64(tag.data(), tag.size());
}

std::optional<std::string> TagOf(const std::string& cipherText) {
  if (cipherText.size() < kTagChars) return std::nullopt;
  return cipherText.substr(0, kTagChars);
}

std::string Encipher(const std::string& plain, const std::string& keyText) {
  EnsureSodium();
  const auto key = Derive<kKeyBytes>(keyText, "zentrafold.key\0\0");
  const auto tag = Derive<kTagBytes>(keyText, "zentrafold.tag\0\0");

  std::vector<unsigned char> message(kTagBytes + kNonceBytes + plain.size() + kMacBytes);
  std::memcpy(message.data(), tag.data(), kTagBytes);
  unsigned char* nonce = message.data() + kTagBytes;
  randombytes_buf(nonce, kNonceBytes);
  unsigned long long boxSize = 0;
  // The tag travels in the clear and is bound to the box as associated data.
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      nonce + kNonceBytes, &boxSize, reinterpret_cast<const unsigned char*>(plain.data()),
      plain.size(), tag.data(), kTagBytes, nullptr, nonce, key.data());
  return ToBase64(message.data(), message.size());
}

std::optional<std::string> Decipher(const std::string& cipherText, const std::string& keyText) {
  EnsureSodium();
  const auto bytes = FromBase64(cipherText);
  if (!bytes || bytes->size() < kTagBytes + kNonceBytes + kMacBytes) return std::nullopt;
  const auto key = Derive<kKeyBytes>(keyText, "zentrafold.key\0\0");
  const unsigned char* tag = bytes->data();
  const unsigned char* nonce = tag + kTagBytes;
  const unsigned char* box = nonce + kNonceBytes;
  const std::size_t boxSize = bytes->size() - kTagBytes - kNonceBytes;

  std::string plain(boxSize - kMacBytes, '\0');
  unsigned long long plainSize = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          reinterpret_cast<unsigned char*>(plain.data()), &plainSize, nullptr, box, boxSize, tag,
          kTagBytes, nonce, key.data()) != 0)
    return std::nullopt;
  plain.resize(plainSize);
  return plain;
}

std::string RandomKeyText(std::size_t length) {
  EnsureSodium();
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string out(length, '\0');
  for (char& c : out) c = kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)];
  return out;
}

}  // namespace zfcipher
