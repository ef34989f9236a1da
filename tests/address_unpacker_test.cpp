#include "engine/address_unpacker.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/failure.hpp"

namespace tavrin {
namespace {

struct Address {
  std::string text;   // an at sign, and no blank, quote, comma, parenthesis or angle bracket
  std::string inner;  // without its first and its last character
};
const std::vector<Address> kAddresses = {
    {"ann@example.com", "nn@example.co"},
    {"x@y", "@"},
    {"first.last+tag@mail.example.co.uk", "irst.last+tag@mail.example.co.u"},
    {"\xC3\xA9mile@caf\xC3\xA9", "mile@caf"},
    {"\xE6\x9D\x8E@\xE4\xBE\x8B", "@"},
};

TEST(UnBuildMailTo, EveryShapeOfRecipient) {
  struct Case {
    std::string mailTo;
    std::string name;
    std::string email;
  };
  // Megabytes of brackets take the time of megabytes, not of their square.
  std::string openings;
  std::string closings;
  for (int i = 0; i < 1 << 20; ++i) {
    openings += "x<";
    closings += "x>";
  }
  const std::string xs(1 << 20, 'x');
  for (const Address& address : kAddresses) {
    const std::string& a = address.text;
    const std::vector<Case> cases = {
        {"\"Last, First\" <" + a + ">", "Last, First", a},
        {"  \"Last, First\"   <" + a + ">  ", "Last, First", a},
        {"\"First Last\"<" + a + ">", "First Last", a},
        {"\"First Last\" " + a, "First Last", address.inner},
        {"\"First Last\" < " + a + " >", "First Last", " " + a + " "},
        {"\"Last\" <>", "Last", ""},
        {"\"\" <" + a + ">", "", a},
        {"First Last <" + a + ">", "First Last ", a},
        {"First Last <" + a, "First Last ", a},
        {"First Last<" + a + ">", "First Last", a},
        {"First <nobody>", "nobody", ""},
        {"First <>", "", ""},
        {"First <no<body>>", "no<body", ""},
        {a, "", a},
        {"<" + a + ">", "", a},
        {"<" + a + "> ", "", a},
        {"First Last", "First Last", ""},
        {"a>b", "a>b", ""},
        {"\"", "\"", ""},
        {"First \"Nick\" Last <" + a + ">", "irst ", "ick\" Last <" + a},
        {"\t\"Last\" <" + a + ">", "", "ast\" <" + a},  // the tab takes the opening quote's place
        {"", "", ""},
        {"Name <" + a + openings, "Name ", a + xs},
        {"Name <" + a + closings, "Name ", a + xs},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.mailTo);
      std::string name = "left over";
      std::string email = "left over";
      UnBuildMailTo(c.mailTo, name, email, TextForm::Utf8);
      EXPECT_EQ(name, c.name);
      EXPECT_EQ(email, c.email);
    }
  }
}

TEST(UnBuildMailTo, QuotedNameWithLessThanTwoCharactersAfterItFails) {
  for (const std::string mailTo :
       {"\"Last\"", "\"Last\" x", "\"\"", "\"Last\"   ", "x\"", "\"Last\" \xC3\xA9"}) {
    SCOPED_TRACE(mailTo);
    std::string name = "left over";
    std::string email = "left over";
    try {
      UnBuildMailTo(mailTo, name, email, TextForm::Utf8);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), EINVAL);
      EXPECT_EQ(failure.description(), "Invalid argument");
      EXPECT_EQ(failure.source(), "Tavrin");
    }
    EXPECT_TRUE(email.empty());
  }
}

TEST(UnBuildMailTo, CutsWholeCharactersAtTheEnds) {
  struct Case {
    std::string mailTo;
    TextForm form;
    std::string name;
    std::string email;
  };
  const std::vector<Case> cases = {
      {"\"Ana\" <\xC3\xA9@x>\xC3\xA9", TextForm::Utf8, "Ana", "\xC3\xA9@x>"},
      {"\"Ana\" \xC3\xA9\xC3\xA9", TextForm::Utf8, "Ana", ""},
      // The three bytes of a surrogate are no character in UTF-8, but three;
      // in the text of a UTF-16 file they are one.
      {"\"\"\xED\xA0\x80", TextForm::Utf8, "", "\xA0"},
      {"\"\"\xED\xA0\x80x\xED\xA0\x80", TextForm::FromUtf16, "", "x"},
      {"\xED\xA0\x80Ola\" <a@x>", TextForm::Utf8, "\xA0\x80Ola", "a@x"},
      {"\xED\xA0\x80Ola\" <a@x>", TextForm::FromUtf16, "Ola", "a@x"},  // the opening quote's place
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mailTo);
    std::string name;
    std::string email;
    UnBuildMailTo(c.mailTo, name, email, c.form);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(email, c.email);
  }
}

}  // namespace
}  // namespace tavrin
