// What a trace carries before and after the module is attached.
#include <gtest/gtest.h>

#include "frame/App.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "tests/support/Capture.h"

namespace {

TEST(ModuleStartup, TraceBeforeStartupCarriesNullHandleAndAfterwardsTheModule) {
  estest::TraceCapture traces;
  ASSERT_EQ(nullptr, es::traceModuleHandle);
  es::Trace(6, "VAVudiImplement", 10, u"before %s", u"start-up");
  void* const instance = es::platform::ThisModuleHandle();
  ASSERT_TRUE(es::ModuleAttach(instance));
  es::Trace(6, "VAVudiImplement", 11, "after %d", 1);
  const auto lines = traces.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(nullptr, lines[0].module);
  EXPECT_EQ(std::u16string(u"before start-up"), lines[0].text);
  EXPECT_EQ(instance, lines[1].module);
  EXPECT_EQ(instance, es::ThisModuleState().instance);
  EXPECT_NE(nullptr, es::ThisModuleState().resources);
  EXPECT_EQ(&es::TheApp(), es::ThisModuleState().app);
  EXPECT_FALSE(es::TheApp().AppName().empty());
}

}  // namespace
