#include "CipherCore.h"

#include <gtest/gtest.h>

using namespace zfcipher;

namespace {
const std::string kKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";
}

TEST(CipherCore, RoundTripsTexts) {
  const std::string texts[] = {"", "a", "1002\tuser@example.com\rsecret",
                               "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", std::string(5000, 'x'),
                               std::string("\0\x01\xff", 3)};
  for (const auto& text : texts) {
    SCOPED_TRACE(text.size());
    const std::string cipher = Encipher(text, kKey);
    EXPECT_GT(cipher.size(), 3u);
    EXPECT_EQ(cipher.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    const auto plain = Decipher(cipher, kKey);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(text, *plain);
  }
}

TEST(CipherCore, FreshNoncePerMessage) {
  EXPECT_NE(Encipher("same", kKey), Encipher("same", kKey));
}

TEST(CipherCore, RefusesWrongKeyTamperingAndGarbage) {
  const std::string cipher = Encipher("hello", kKey);
  EXPECT_FALSE(Decipher(cipher, "another key").has_value());

  std::string tampered = cipher;
  tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(Decipher(tampered, kKey).has_value());

  for (const std::string& garbage : {std::string(), std::string("1"), std::string("-1"),
                                     std::string("not base64 at all!"), cipher.substr(0, 20),
                                     cipher + "&&"}) {
    SCOPED_TRACE(garbage);
    EXPECT_FALSE(Decipher(garbage, kKey).has_value());
  }
}

TEST(CipherCore, CiphertextCarriesTheKeyTag) {
  const std::string tag = KeyTag(kKey);
  EXPECT_EQ(kTagChars, tag.size());
  EXPECT_EQ(tag, TagOf(Encipher("x", kKey)).value());
  EXPECT_NE(tag, KeyTag("other"));
  EXPECT_FALSE(TagOf("short").has_value());
}

TEST(CipherCore, RandomKeyText) {
  const std::string a = RandomKeyText(32), b = RandomKeyText(32);
  EXPECT_EQ(32u, a.size());
  EXPECT_NE(a, b);
}
