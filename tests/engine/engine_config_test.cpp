#include "engine/engine_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "engine/engine_error.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

TEST(EngineConfig, FreshStoreHoldsTheCzechLanguageDriver) {
  test::TempDir dir;
  const EngineConfig config(dir.File("engine.cfg"));
  EXPECT_EQ(ReadEngineConfigEntry(config, kLangDriverParameter), "anczechw");
  EXPECT_FALSE(std::filesystem::exists(dir.File("engine.cfg")));  // reading writes nothing
}

TEST(EngineConfig, WrittenEntrySurvivesANewStoreObject) {
  test::TempDir dir;
  EngineConfig config(dir.File("sub/engine.cfg"));
  WriteEngineConfigEntry(config, kLangDriverParameter, "ascii");
  EXPECT_EQ(ReadEngineConfigEntry(EngineConfig(dir.File("sub/engine.cfg")), kLangDriverParameter),
            "ascii");
  // Other entries keep their defaults.
  EXPECT_EQ(ReadEngineConfigEntry(config, "\\DRIVERS\\PARADOX\\INIT\\;LEVEL"), "7");
  WriteEngineConfigEntry(config, kLangDriverParameter, "anczechw");
  EXPECT_EQ(ReadEngineConfigEntry(config, kLangDriverParameter), "anczechw");
}

TEST(EngineConfig, ParameterErrorsHaveTheirExactTexts) {
  test::TempDir dir;
  EngineConfig config(dir.File("engine.cfg"));
  struct {
    const char* parameter;
    const char* message;
  } const cases[] = {
      {"\\DRIVERS\\PARADOX\\INIT\\LANGDRIVER",
       "Invalid parameter passed to function.  There must be a semi-colon delimited sting passed"},
      {"\\DRIVERS\\PARADOX\\INIT\\;LangDriver",
       "\\DRIVERS\\PARADOX\\INIT\\;LangDriver entry was not found in configuration file"},
      {"\\DRIVERS\\PARADOX\\INIT\\;",
       "\\DRIVERS\\PARADOX\\INIT\\; entry was not found in configuration file"},
  };
  for (const auto& c : cases) {
    try {
      ReadEngineConfigEntry(config, c.parameter);
      ADD_FAILURE() << "no error for " << c.parameter;
    } catch (const EngineError&) {
      ADD_FAILURE() << "engine error for " << c.parameter;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_THROW(WriteEngineConfigEntry(config, c.parameter, "x"), std::runtime_error);
  }
  EXPECT_THROW(ReadEngineConfigEntry(config, "\\NO\\SUCH\\PATH\\;X"), EngineError);
  EXPECT_EQ(ReadEngineConfigEntry(config, "\\drivers\\paradox\\init;LANGDRIVER"), "anczechw");
}

TEST(EngineConfig, ValuesAreCutAt128Characters) {
  test::TempDir dir;
  EngineConfig config(dir.File("engine.cfg"));
  WriteEngineConfigEntry(config, kLangDriverParameter, std::string(300, 'x'));
  EXPECT_EQ(ReadEngineConfigEntry(config, kLangDriverParameter), std::string(128, 'x'));
}

TEST(EngineConfig, UnwritableStoreIsAnEngineError) {
  test::TempDir dir;
  test::WriteFileBytes(dir.path() / "file", "x");
  EngineConfig config(dir.File("file/engine.cfg"));
  EXPECT_THROW(WriteEngineConfigEntry(config, kLangDriverParameter, "ascii"), EngineError);
}

TEST(EngineConfig, HandEditedGarbageDoesNotBreakReading) {
  test::TempDir dir;
  static constexpr char kText[] =
      "\x00\xff garbage\n[\\DRIVERS\\PARADOX\\INIT\\]\r\nno equals\nLANGDRIVER=intl\n";
  test::WriteFileBytes(dir.path() / "engine.cfg", std::string(kText, sizeof kText - 1));
  const EngineConfig config(dir.File("engine.cfg"));
  EXPECT_EQ(ReadEngineConfigEntry(config, kLangDriverParameter), "intl");
}

}  // namespace
}  // namespace dalimor
