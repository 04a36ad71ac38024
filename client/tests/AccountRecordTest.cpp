// The stored account in HKLM\Software\Orvane Software\Zentrafold "UserAccount".
#include <gtest/gtest.h>

#include <vector>

#include "AccountRecord.h"
#include "Cipher.h"
#include "Owners.h"
#include "RegistrySandbox.h"

namespace {

struct StoredValue {
  DWORD type = 0;
  std::vector<BYTE> data;
  LSTATUS status = ERROR_FILE_NOT_FOUND;
};

StoredValue ReadUserAccount() {
  StoredValue v;
  zf::UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return v;
  DWORD size = 0;
  v.status = RegQueryValueExA(key.get(), "UserAccount", nullptr, &v.type, nullptr, &size);
  if (v.status != ERROR_SUCCESS) return v;
  v.data.resize(size);
  v.status = RegQueryValueExA(key.get(), "UserAccount", nullptr, &v.type, v.data.data(), &size);
  return v;
}

// Removes the whole settings key for one case and puts its values back after.
class SettingsKeyRemoved {
 public:
  SettingsKeyRemoved() {
    zf::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zf::kSettingsKey, 0, KEY_READ, key.put()) ==
        ERROR_SUCCESS) {
      for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
          break;
        Saved saved{name, type, std::vector<BYTE>(size)};
        nameSize = sizeof name;
        RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, saved.data.data(), &size);
        saved_.push_back(std::move(saved));
      }
    }
    key.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, zf::kSettingsKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, zf::kSettingsKey);
  }
  ~SettingsKeyRemoved() {
    for (const auto& s : saved_)
      zftest::SetSettingsValue(s.name.c_str(), s.type, s.data.data(),
                               static_cast<DWORD>(s.data.size()));
  }

 private:
  struct Saved {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Saved> saved_;
};

class AccountRecordTest : public ::testing::Test {
 protected:
  zf::ComApartment com_;
  zftest::SettingsSandbox settings_;
};

TEST_F(AccountRecordTest, RoundTripThroughTheRegistry) {
  ASSERT_TRUE(zf::StoreAccount({"user@example.com", "p\xE4ssw\xF6rd"}));
  const StoredValue stored = ReadUserAccount();
  ASSERT_EQ(ERROR_SUCCESS, stored.status);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
  ASSERT_EQ(514u, stored.data.size());
  // The enciphered text, zero-filled behind it.
  const std::string text(reinterpret_cast<const char*>(stored.data.data()));
  EXPECT_GT(text.size(), 3u);
  for (size_t i = text.size(); i < stored.data.size(); ++i) ASSERT_EQ(0, stored.data[i]) << i;

  zf::AccountRecord account{"stale", "stale"};
  ASSERT_TRUE(zf::LoadAccount(account));
  EXPECT_EQ("user@example.com", account.userName);
  EXPECT_EQ("p\xE4ssw\xF6rd", account.password);

  // A second store replaces the first.
  ASSERT_TRUE(zf::StoreAccount({"other@example.com", "x"}));
  ASSERT_TRUE(zf::LoadAccount(account));
  EXPECT_EQ("other@example.com", account.userName);
}

TEST_F(AccountRecordTest, MissingKeyOrValueFails) {
  zf::AccountRecord account{"stale", "stale"};
  EXPECT_FALSE(zf::LoadAccount(account));  // no value
  SettingsKeyRemoved removed;
  EXPECT_FALSE(zf::LoadAccount(account));  // no key
}

TEST_F(AccountRecordTest, UnusableValuesFail) {
  auto encipher = [](const std::string& text) {
    std::string cipher;
    EXPECT_TRUE(zf::EncipherText(text, zf::kSharedKey, cipher));
    return cipher;
  };
  struct Case {
    const char* what;
    std::string value;
  } cases[] = {
      {"no CR", encipher("user@example.com password")},
      {"empty password", encipher("user@example.com\r")},
      {"empty user", encipher("\rpassword")},
      {"not enciphered", "user@example.com\rpassword"},
      {"other key", [] {
         std::string c;
         zf::EncipherText("u\rp", "other key", c);
         return c;
       }()},
      {"514 bytes of text, no terminator", std::string(514, 'A')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> data(514, 0);
    std::copy(c.value.begin(), c.value.begin() + std::min<size_t>(c.value.size(), 514),
              data.begin());
    ASSERT_EQ(ERROR_SUCCESS, zftest::SetSettingsValue("UserAccount", REG_BINARY, data.data(), 514));
    zf::AccountRecord account{"stale", "stale"};
    EXPECT_FALSE(zf::LoadAccount(account));
  }
}

TEST_F(AccountRecordTest, OversizedCredentialsAreNotWrittenCutShort) {
  ASSERT_TRUE(zf::StoreAccount({"kept@example.com", "kept"}));
  const StoredValue before = ReadUserAccount();

  EXPECT_FALSE(zf::StoreAccount({std::string(400, 'u') + "@example.com", "pw"}));
  EXPECT_EQ(before.data, ReadUserAccount().data);
  zf::AccountRecord account;
  ASSERT_TRUE(zf::LoadAccount(account));
  EXPECT_EQ("kept@example.com", account.userName);
}

TEST_F(AccountRecordTest, LongestCredentialsThatFitRoundTrip) {
  // 49 bytes of cipher overhead, base64: 512 characters hold 335 bytes of text.
  const std::string user(300, 'u'), password(34, 'p');
  ASSERT_TRUE(zf::StoreAccount({user, password}));
  zf::AccountRecord account;
  ASSERT_TRUE(zf::LoadAccount(account));
  EXPECT_EQ(user, account.userName);
  EXPECT_EQ(password, account.password);
  EXPECT_FALSE(zf::StoreAccount({user, password + "p"}));
}

}  // namespace
