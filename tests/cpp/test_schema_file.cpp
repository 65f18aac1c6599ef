#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "persistence/document.h"
#include "persistence/schema_file.h"

namespace nolt {
namespace {

class SchemaFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nolt_schema_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"/schema.json", "/sub"}) {
      const std::string path = dir_ + name;
      std::remove(path.c_str());
    }
    rmdir(dir_.c_str());
  }
  std::string path(const char* name = "/schema.json") const { return dir_ + name; }
  void write_file(const std::string& content) const {
    std::ofstream(path(), std::ios::binary) << content;
  }
  std::string read_file() const {
    std::ifstream in(path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

SuggestedDatasetSchema sample_schema() {
  SuggestedDatasetSchema schema;
  schema.columns.push_back({"size", LogicalType::Categorical, false,
                            {std::nullopt, std::vector<SuggestedValue>{std::string("s"), std::string("l")}}});
  schema.columns.push_back({"ratio", LogicalType::Float, true, {SuggestedNumericRange{0.5, 1e16}, std::nullopt}});
  return schema;
}

TEST_F(SchemaFile, SaveWritesTheDocumentAndLoadReadsItBack) {
  const SuggestedDatasetSchema schema = sample_schema();
  ASSERT_TRUE(save_suggested_schema(schema, path()).ok());
  EXPECT_EQ(read_file(), encode_schema_document(schema));
  auto loaded = load_suggested_schema(path());
  ASSERT_TRUE(loaded.ok()) << loaded.error().message();
  EXPECT_EQ(*loaded, schema);
}

TEST_F(SchemaFile, SaveTruncatesALongerFile) {
  write_file(std::string(100000, 'x'));
  ASSERT_TRUE(save_suggested_schema({}, path()).ok());
  EXPECT_EQ(read_file(), encode_schema_document({}));
}

TEST_F(SchemaFile, NonFiniteBoundIsRefusedBeforeTheFileIsTouched) {
  write_file("keep");
  for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
    SuggestedDatasetSchema schema = sample_schema();
    schema.columns.push_back({"lo", LogicalType::Float, false, {SuggestedNumericRange{bad, 1.0}, std::nullopt}});
    schema.columns.push_back({"hi", LogicalType::Float, false, {SuggestedNumericRange{0.0, bad}, std::nullopt}});
    auto status = save_suggested_schema(schema, path());
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind(), CoreErrorKind::ValueError);
    EXPECT_EQ(status.error().message(), "numeric range for column `lo` contains a non-finite value");
  }
  EXPECT_EQ(read_file(), "keep");
}

struct FileFailure {
  CoreErrorKind kind;
  std::string message;
};

FileFailure load_failure(const std::string& path) {
  auto result = load_suggested_schema(path);
  if (result.ok()) return {CoreErrorKind::Propagated, "loaded"};
  return {result.error().kind(), result.error().message()};
}

TEST_F(SchemaFile, OperatingSystemErrors) {
  auto missing_dir = save_suggested_schema({}, path("/sub/schema.json"));
  ASSERT_FALSE(missing_dir.ok());
  EXPECT_EQ(missing_dir.error().kind(), CoreErrorKind::OSError);
  EXPECT_EQ(missing_dir.error().message(), "No such file or directory (os error 2)");

  auto directory = save_suggested_schema({}, dir_);
  ASSERT_FALSE(directory.ok());
  EXPECT_EQ(directory.error().message(), "Is a directory (os error 21)");

  const FileFailure missing = load_failure(path("/absent.json"));
  EXPECT_EQ(missing.kind, CoreErrorKind::OSError);
  EXPECT_EQ(missing.message, "No such file or directory (os error 2)");

  const FileFailure read_directory = load_failure(dir_);
  EXPECT_EQ(read_directory.kind, CoreErrorKind::OSError);
  EXPECT_EQ(read_directory.message, "Is a directory (os error 21)");

  auto nul = save_suggested_schema({}, std::string("a\0b", 3));
  ASSERT_FALSE(nul.ok());
  EXPECT_EQ(nul.error().kind(), CoreErrorKind::OSError);
  EXPECT_EQ(nul.error().message(), "file name contained an unexpected NUL byte");
}

TEST_F(SchemaFile, ContentErrors) {
  const struct {
    std::string content;
    CoreErrorKind kind;
    std::string message;
  } cases[] = {
      {"", CoreErrorKind::ValueError, "EOF while parsing a value at line 1 column 0"},
      {"{\"format_version\":1,\"schema\":{\"columns\":[]},\"x\":\"\xC3\"}", CoreErrorKind::OSError,
       "stream did not contain valid UTF-8"},
      {"\xED\xA0\x80", CoreErrorKind::OSError, "stream did not contain valid UTF-8"},
      {"\xC0\xAF", CoreErrorKind::OSError, "stream did not contain valid UTF-8"},
      {"{\"format_version\":0,\"schema\":{\"columns\":[]}}", CoreErrorKind::ValueError,
       "Unsupported suggested schema format version: 0"},
      {"{\"format_version\":2,\"schema\":{\"columns\":[]}}", CoreErrorKind::ValueError,
       "Unsupported suggested schema format version: 2"},
      {"{\"format_version\":1,\"schema\":{\"columns\":[]}", CoreErrorKind::ValueError,
       "EOF while parsing an object at line 1 column 43"},
  };
  for (const auto& file_case : cases) {
    write_file(file_case.content);
    const FileFailure failure = load_failure(path());
    EXPECT_EQ(failure.kind, file_case.kind) << file_case.message;
    EXPECT_EQ(failure.message, file_case.message);
  }
}

}  // namespace
}  // namespace nolt
