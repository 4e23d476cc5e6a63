#include "FailingSettingsStore.h"
#include "JsonSettingsStore.h"
#include "SettingsTestSupport.h"

namespace es::host::test {
namespace {

using Op = FailingSettingsStore::Op;

class FailingSettingsStoreTest : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    inner_ = JsonSettingsStore::Open(Dir() / "eshost-settings.json");
  }
  ComPtr<JsonSettingsStore> inner_;
};

TEST_F(FailingSettingsStoreTest, ForwardsAndRecordsEveryCall) {
  FailingSettingsStore store(inner_.get());
  EXPECT_EQ(store.SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  EXPECT_EQ(store.SetInteger(BstrArg(u"Number of dirs"), 1), kS_OK);
  EXPECT_EQ(store.SetString(BstrArg(u"Dir0"), BstrArg(u"C:\\ES")), kS_OK);
  std::int16_t flag = 0;
  std::int64_t number = 0;
  BstrOut text;
  EXPECT_EQ(store.GetBool(BstrArg(u"DeleteFaxes"), &flag), kS_OK);
  EXPECT_EQ(store.GetInteger(BstrArg(u"Number of dirs"), &number), kS_OK);
  EXPECT_EQ(store.GetString(BstrArg(u"Dir0"), &text), kS_OK);
  BstrOut missing;
  EXPECT_EQ(store.GetString(BstrArg(u"SelectedPath"), &missing), kE_NOTFOUND);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(number, 1);

  const std::vector<std::pair<Op, std::u16string>> expected = {
      {Op::SetBool, u"DeleteFaxes"}, {Op::SetInteger, u"Number of dirs"}, {Op::SetString, u"Dir0"},
      {Op::GetBool, u"DeleteFaxes"}, {Op::GetInteger, u"Number of dirs"}, {Op::GetString, u"Dir0"},
      {Op::GetString, u"SelectedPath"},
  };
  ASSERT_EQ(store.Calls().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(store.Calls()[i].op, expected[i].first) << i;
    EXPECT_EQ(store.Calls()[i].name, expected[i].second) << i;
    EXPECT_FALSE(store.Calls()[i].injected) << i;
  }
  EXPECT_EQ(store.Calls().back().result, kE_NOTFOUND);
}

TEST_F(FailingSettingsStoreTest, FailsExactlyAtTheNthCall) {
  FailingSettingsStore store(inner_.get());
  store.FailAt(3, kE_UNEXPECTED);
  EXPECT_EQ(store.SetBool(BstrArg(u"AllowRescanning"), 1), kS_OK);
  EXPECT_EQ(store.SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  EXPECT_EQ(store.SetBool(BstrArg(u"DeleteGroupFolder"), 1), kE_UNEXPECTED);
  EXPECT_EQ(store.SetString(BstrArg(u"SelectedPath"), BstrArg(u"x")), kS_OK);

  // The failed call never reached the real store.
  std::int16_t flag = 0;
  EXPECT_EQ(inner_->GetBool(BstrArg(u"DeleteGroupFolder"), &flag), kE_NOTFOUND);
  EXPECT_EQ(inner_->GetBool(BstrArg(u"DeleteFaxes"), &flag), kS_OK);
  ASSERT_EQ(store.Calls().size(), 4u);
  EXPECT_TRUE(store.Calls()[2].injected);
  EXPECT_EQ(store.Calls()[2].result, kE_UNEXPECTED);
  EXPECT_FALSE(store.Calls()[3].injected);
}

TEST_F(FailingSettingsStoreTest, ThrowsAtTheNthCall) {
  FailingSettingsStore store(inner_.get());
  store.ThrowAt(2);
  std::int16_t flag = 0;
  EXPECT_EQ(store.GetBool(BstrArg(u"AllowRescanning"), &flag), kE_NOTFOUND);
  try {
    store.GetBool(BstrArg(u"DeleteFaxes"), &flag);
    ADD_FAILURE() << "the second call should have thrown";
  } catch (const InjectedStoreError& error) {
    EXPECT_EQ(error.result(), kE_FAIL);
  }
  EXPECT_EQ(store.GetBool(BstrArg(u"DeleteGroupFolder"), &flag), kE_NOTFOUND);
  ASSERT_EQ(store.Calls().size(), 3u);
  EXPECT_EQ(store.Calls()[1].name, u"DeleteFaxes");
  EXPECT_TRUE(store.Calls()[1].injected);
}

TEST_F(FailingSettingsStoreTest, CountsReferencesAndHoldsTheInnerStore) {
  const int live = JsonSettingsStore::LiveObjects();
  {
    FailingSettingsStore store(inner_.get());
    inner_.reset();  // the wrapper's own reference keeps the real store alive
    EXPECT_EQ(JsonSettingsStore::LiveObjects(), live);
    store.AddRef();
    void* object = nullptr;
    EXPECT_EQ(store.QueryInterface(kIID_ISettingsStore, &object), kS_OK);
    EXPECT_EQ(object, static_cast<ISettingsStore*>(&store));
    EXPECT_EQ(store.RefBalance(), 2);
    store.Release();
    EXPECT_EQ(store.RefBalance(), 1);
    store.Release();
    EXPECT_EQ(store.RefBalance(), 0);
    EXPECT_EQ(store.AddRefCount(), 2);
    EXPECT_EQ(store.ReleaseCount(), 2);
  }
  EXPECT_EQ(JsonSettingsStore::LiveObjects(), live - 1);
}

}  // namespace
}  // namespace es::host::test
