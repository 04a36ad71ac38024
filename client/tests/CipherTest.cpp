// The cipher component through the client's binding.
#include <gtest/gtest.h>

#include "Cipher.h"
#include "Owners.h"
#include "RegistrySandbox.h"

namespace {

class CipherTest : public ::testing::Test {
 protected:
  zf::ComApartment com_;
};

TEST_F(CipherTest, RoundTripsEmptyAsciiAndAnsiText) {
  ASSERT_EQ(1252u, GetACP());
  const std::string texts[] = {"", "plain ascii", "Gr\xFC\xDF" "e \x80 caf\xE9 \xA9",
                               std::string(3000, 'z')};
  for (const auto& text : texts) {
    SCOPED_TRACE(text);
    std::string cipher = "\xde\xad\xbe\xef", plain = "\xde\xad\xbe\xef";
    ASSERT_TRUE(zf::EncipherText(text, zf::kSharedKey, cipher));
    EXPECT_GT(cipher.size(), 3u);
    EXPECT_NE(text, cipher);
    ASSERT_TRUE(zf::DecipherText(cipher, zf::kSharedKey, plain));
    EXPECT_EQ(text, plain);
  }
}

TEST_F(CipherTest, WrongKeyTamperingAndGarbageFailAndLeaveResultAlone) {
  std::string cipher;
  ASSERT_TRUE(zf::EncipherText("secret", zf::kSharedKey, cipher));
  std::string tampered = cipher;
  tampered[20] = tampered[20] == 'A' ? 'B' : 'A';
  struct Case {
    const char* what;
    std::string text, key;
  } cases[] = {{"wrong key", cipher, "not the key"},
               {"tampered", tampered, zf::kSharedKey},
               {"not base64", "%%% not base64 %%%", zf::kSharedKey},
               {"empty", "", zf::kSharedKey}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string result = "untouched";
    EXPECT_FALSE(zf::DecipherText(c.text, c.key, result));
    EXPECT_EQ("untouched", result);
  }
}

TEST_F(CipherTest, LateBindingThroughIDispatch) {
  static const CLSID clsid = {0xEB4B6F34, 0xA783, 0x45CB,
                              {0xBE, 0xE1, 0x8A, 0x50, 0x35, 0x7D, 0x7E, 0xC3}};
  zf::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   dispatch.put_void()));
  LPOLESTR name = const_cast<LPOLESTR>(L"EncipherText");
  DISPID id = 0xdead;
  ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  VARIANT args[2];
  V_VT(&args[0]) = VT_BSTR;  // last argument first: the key
  V_BSTR(&args[0]) = SysAllocString(L"k");
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = SysAllocString(L"text");
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr =
      dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  EXPECT_EQ(S_OK, hr) << std::hex << hr;
  EXPECT_EQ(VT_BSTR, V_VT(&result));
  EXPECT_GT(SysStringLen(V_BSTR(&result)), 3u);
  VariantClear(&result);
  VariantClear(&args[0]);
  VariantClear(&args[1]);
}

TEST_F(CipherTest, MissingComponentFails) {
  zftest::CipherUnregistered gone;
  ASSERT_TRUE(gone.HadRegistration());
  std::string result = "untouched";
  EXPECT_FALSE(zf::EncipherText("x", zf::kSharedKey, result));
  EXPECT_FALSE(zf::DecipherText("x", zf::kSharedKey, result));
  EXPECT_EQ("untouched", result);
}

}  // namespace
