#include "engine/unbuild_records.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/failure.hpp"
#include "engine/text_file.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

// The lines that the unbuild step writes for `tokens` (trimmed, as the run
// hands them on), in a fresh output file.
std::string records(const std::vector<std::string>& tokens) {
  TempDir dir;
  TextWriter output;
  output.open(dir.file("out.csv"), {});
  output.start(Encoding::Utf8);
  UnbuildStep step;
  bool firstRecord = true;
  for (const std::string& token : tokens) step.write(token, output, firstRecord, TextForm::Utf8);
  output.close();
  return readFile(dir.file("out.csv"));
}

// The record of `token`, written after the header and one record, as most are.
std::string record(const std::string& token) {
  const std::string lines = records({"a@b", token});
  const std::string before = "DisplayName,EMail1\r\nPartner,a@b\r\n";
  EXPECT_TRUE(lines.starts_with(before)) << lines;
  EXPECT_TRUE(lines.ends_with("\r\n")) << lines;
  return lines.substr(before.size(), lines.size() - before.size() - 2);
}

TEST(UnbuildStep, TidiesEachNameByTheRulesInOrder) {
  struct Case {
    std::string token;
    std::string record;
  };
  for (const std::string a : {"ann@example.com", "x@y", "\xC3\xA9mile@caf\xC3\xA9.fr"}) {
    const std::vector<Case> cases = {
        {"\"Last, First\" <" + a + ">", "First Last," + a},
        {"\"Last,First\" <" + a + ">", "First Last," + a},
        {"\"Last , First\" <" + a + ">", "First Last," + a},
        {"\"First Last (Sales)\" <" + a + ">", "First Last," + a},
        {"\"Last, First (Sales)\" <" + a + ">", "First Last," + a},
        {"\"First (Sales\" <" + a + ">", "First," + a},
        {"\"(Sales)\" <" + a + ">", "Partner," + a},
        {"\"Firm Inc\" <" + a + ">", "Partner," + a},
        {"\"Firm Inc.\" <" + a + ">", "Partner," + a},
        {"\"FIRM CORP\" <" + a + ">", "Partner," + a},
        {"\"Firm Corp.\" <" + a + ">", "Partner," + a},
        {"\"Firm Inc (Sales)\" <" + a + ">", "Partner," + a},
        {"\"Zinc\" <" + a + ">", "Partner," + a},
        {"\"Z\xC4\xB0NC\" <" + a + ">", "Partner," + a},              // dotted capital I lowers to i
        {"\"Firm In\xC3\xA7\" <" + a + ">", "Firm In\xC3\xA7," + a},  // c cedilla is no c
        {"\"Firm \xC3\xA9"
         "corp\" <" +
             a + ">",
         "Partner," + a},
        {"\"nc.\" <" + a + ">", "nc.," + a},
        {"\"CORP\" <" + a + ">", "Partner," + a},
        {"\"Firm, Inc.\" <" + a + ">", "Partner," + a},
        {"\"Inc, Firm\" <" + a + ">", "Firm Inc," + a},
        {"Firm Inc <" + a + ">", "Firm Inc ," + a},
        {"First Last <" + a + ">", "First Last ," + a},
        {"Last, First <" + a + ">", "First  Last," + a},
        {a, "Partner," + a},
        {"<" + a + ">", "Partner," + a},
        {"\"\" <" + a + ">", "Partner," + a},
        {"\"   \" <" + a + ">", "Partner," + a},
        {"\"" + a + "\" <" + a + ">", "Partner," + a},
        {a + " <" + a + ">", a + " ," + a},
        {"\"Last, First, Jr\" <" + a + ">", "First, Jr Last," + a},
        {"\"Last,\" <" + a + ">", "Last," + a},
        {"\",\" <" + a + ">", "," + a},
        {"First Last", "First Last,"},
        {"First <nobody>", "nobody,"},
        {"\"Last\" <>", "Last,"},
        {"\"\" <>", "Partner,"},
        {"First <>", "Partner,"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.token);
      EXPECT_EQ(record(c.token), c.record);
    }
  }
}

TEST(UnbuildStep, NameEqualToTheAddressIgnoresCaseOfAnyLetter) {
  EXPECT_EQ(record("\"ANN@EXAMPLE.COM\" <ann@example.com>"), "Partner,ann@example.com");
  EXPECT_EQ(record("\"\xC3\x89MILE@X.FR\" <\xC3\xA9mile@x.fr>"), "Partner,\xC3\xA9mile@x.fr");
  EXPECT_EQ(record("\"\xC8\x98TEFAN@EXAMPLE.RO\" <\xC8\x99tefan@example.ro>"),
            "Partner,\xC8\x99tefan@example.ro");
  EXPECT_EQ(record("\"\xD0\x98\xD0\x92\xD0\x90\xD0\x9D@X.RU\" <\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD@x.ru>"),
            "Partner,\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD@x.ru");
  EXPECT_EQ(record("\"\xC3\x89mile\" <emile@x.fr>"), "\xC3\x89mile,emile@x.fr");
  // One byte less in lower case, on either side.
  EXPECT_EQ(record("\"\xC4\xB0NFO@X.TR\" <info@x.tr>"), "Partner,info@x.tr");
  EXPECT_EQ(record("\"info@x.tr\" <\xC4\xB0nfo@x.tr>"), "Partner,\xC4\xB0nfo@x.tr");
}

TEST(UnbuildStep, HeaderComesOnceBeforeTheFirstRecord) {
  EXPECT_EQ(records({"\"Last, First\" <l@x.org>", "b@y.org"}),
            "DisplayName,EMail1\r\nFirst Last,l@x.org\r\nPartner,b@y.org\r\n");
}

TEST(UnbuildStep, FailingTokenWritesNothingAndKeepsTheHeaderForLater) {
  TempDir dir;
  TextWriter output;
  output.open(dir.file("out.csv"), {});
  output.start(Encoding::Utf8);
  UnbuildStep step;
  bool firstRecord = true;
  EXPECT_THROW(step.write("\"Last\"", output, firstRecord, TextForm::Utf8), Failure);
  EXPECT_TRUE(firstRecord);
  step.write("a@b", output, firstRecord, TextForm::Utf8);
  EXPECT_FALSE(firstRecord);
  output.close();
  EXPECT_EQ(readFile(dir.file("out.csv")), "DisplayName,EMail1\r\nPartner,a@b\r\n");
}

TEST(TidyDisplayName, ResultIsAViewThatOutlivesNothingItNeeds) {
  std::string scratch;
  const std::string name = "Doe, Jane";
  EXPECT_EQ(tidyDisplayName(name, "j@d.org", scratch), "Jane Doe");
  EXPECT_EQ(tidyDisplayName("Acme Corp.", "a@acme.com", scratch), "Partner");
  EXPECT_EQ(tidyDisplayName(std::string(1, '\0'), "x@y", scratch), "Partner");
  EXPECT_EQ(tidyDisplayName("\t", "x@y", scratch), "\t");
}

}  // namespace
}  // namespace tavrin
