#include "platform/DynLib.h"

#include <gtest/gtest.h>

namespace ospry {
namespace {

TEST(DynLib, LoadsALibraryAndResolvesAFunction) {
  TDynLib lib("libm.so.6");
  ASSERT_TRUE(lib.IsLoaded()) << lib.LastError();
  auto cosine = reinterpret_cast<double (*)(double)>(lib.Symbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(lib.Symbol("no_such_symbol_here"), nullptr);
  EXPECT_FALSE(lib.LastError().empty());
  lib.Unload();
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.Symbol("cos"), nullptr);
}

TEST(DynLib, FailuresGiveNull) {
  const char* paths[] = {"/no/such/library.so", "", "/etc/hostname"};
  for (const char* path : paths) {
    TDynLib lib;
    EXPECT_FALSE(lib.Load(path)) << path;
    EXPECT_FALSE(lib.IsLoaded()) << path;
    EXPECT_FALSE(lib.LastError().empty()) << path;
    // An empty path must not hand out the running program's own symbols.
    EXPECT_EQ(lib.Symbol("main"), nullptr) << path;
  }
}

}  // namespace
}  // namespace ospry
