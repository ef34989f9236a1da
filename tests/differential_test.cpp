// The engine against the literal steps of tests/literal_steps.hpp, on many
// thousands of seeded random lines, recipients and files. Any difference fails
// with the text that shows it, written so that it can be pasted into a test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/address_unpacker.hpp"
#include "engine/byte_scan.hpp"
#include "engine/conversion_run.hpp"
#include "engine/failure.hpp"
#include "engine/text.hpp"
#include "engine/tokenizer.hpp"
#include "engine/unbuild_records.hpp"
#include "literal_steps.hpp"
#include "recording_host.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

using namespace std::string_literals;

// Reports at most this many differences of one kind, so that a broken engine
// does not bury the first one under thousands.
constexpr int kMostReported = 5;

// Texts are tried in turn as UTF-8 and as the text of a UTF-16 file.
struct Form {
  TextForm engine;
  literal::Form literal;
  const char* shown;
};
constexpr Form kUtf8{TextForm::Utf8, literal::Form::Utf8, ""};
constexpr Form kForms[] = {kUtf8, {TextForm::FromUtf16, literal::Form::FromUtf16, " of a UTF-16 file"}};

// Random texts made of fragments: whole characters of every kind, stray bytes
// and pieces of the separators, so that near misses come up often.
class Fragments {
 public:
  Fragments(std::vector<std::string> pieces, unsigned seed) : m_pieces(std::move(pieces)), m_random(seed) {}

  std::string text(int mostPieces) {
    std::string text;
    const int count = below(mostPieces + 1);
    for (int i = 0; i < count; ++i) text += m_pieces[below(static_cast<int>(m_pieces.size()))];
    return text;
  }
  int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(m_random); }

 private:
  std::vector<std::string> m_pieces;
  std::mt19937 m_random;
};

// clang-format off
const std::vector<std::string> kLinePieces = {
    "a", "b", "X", " ", " ", "\"", "\"", ",", ",", ";", ":", "::", "\t", "<", ">", "@", "(", ")", "aa", "-->",
    "-", "é", "€", "中", "\xF0\x9F\x98\x80", "\xFF", "\xC3", "\x80", "\xA9", "\xE2", "\xE2\x82", "\x82\xAC",
    "\xED\xA0\x80", "\xED\xBF\xBF", "\0"s};

const std::vector<std::string> kSeparators = {
    ",", ";", "\t", " ", "a", "\"", "é", "€", "\xC3", "\xA9", "\xF0\x9F\x98\x80", "\xED\xA0\x80", "\0"s,
    // several characters, found as whole units; the last bytes of a surrogate
    // only where they are stray bytes, in UTF-8
    "::", ", ", "aa", "-->", "\xE2\x82", "\x82\xAC", "é€", "\"\"", "\xA0\x80"};
// clang-format on

TEST(Differential, TokenizerAgreesWithTheLiteralSteps) {
  struct Case {
    std::string quotes;
    int lines;
    int mostPieces = 24;
  };
  const std::vector<Case> cases = {
      {"\"", 1500},      // what the run passes
      {"\"", 200, 160},  // lines of several blocks, quotes open across them
      {"", 150},         // blank quote texts switch balancing off
      {" ", 50},        {std::string(1, '\0'), 50},
      {"'", 100},       {"\"\"", 100},  // a quote text of two characters counts overlapping pairs
  };
  unsigned seed = 1;
  for (const Case& c : cases) {
    for (const std::string& separator : kSeparators) {
      SCOPED_TRACE("separator " + shown(separator) + ", quotes " + shown(c.quotes));
      Fragments fragments(kLinePieces, seed++);
      int reported = 0;
      for (int n = 0; n < c.lines && reported < kMostReported; ++n) {
        const std::string line = fragments.text(c.mostPieces);
        const Form& form = kForms[n % 2];
        const literal::Tokenized expected = literal::GetTokens(line, separator, c.quotes, form.literal);

        RecordingHost host;
        TokenList list;
        const std::int32_t result = GetTokens(line, separator, list, c.quotes, host, form.engine);
        std::vector<std::string> tokens;
        list.forEach([&](std::string_view token) { tokens.emplace_back(token); });

        if (result != expected.result || tokens != expected.tokens || host.warnings != expected.warnings) {
          ++reported;
          ADD_FAILURE() << "line " << shown(line) << form.shown << "\n  engine:  " << result << " "
                        << shown(tokens) << " " << shown(host.warnings) << "\n  literal: " << expected.result
                        << " " << shown(expected.tokens) << " " << shown(expected.warnings);
        }
      }
    }
  }
}

// clang-format off
const std::vector<std::string> kRecipientPieces = {
    "\"", "\"", " ", " ", "<", ">", "@", "(", ")", ",", "Last", "First", "inc", "Inc.", "CORP", "corp.", "x@y.z",
    "a", "A", "é", "É", "σ", "Σ", "ж", "Ж", "İ", "Ș", "ș", "中", "\t", "\xC3", "\xC9", "\xE9", "\xED\xA0\x80",
    "\xF0\x9F\x98\x80", "\0"s};
// clang-format on

// A recipient of one of the usual shapes, the name and address varied.
std::string shapedRecipient(Fragments& fragments) {
  const std::string name = fragments.text(4);
  const std::string address = fragments.text(4);
  switch (fragments.below(5)) {
    case 0:
      return " \"" + name + "\" <" + address + "> ";
    case 1:
      return name + " <" + address + ">";
    case 2:
      return "\"" + name + "\"<" + name + ">";  // a name that repeats the address
    case 3:
      return "\"" + name + "\" " + address;
    default:
      return address;
  }
}

struct Unpacked {
  bool failed = false;
  std::string name;
  std::string email;
  std::string record;  // the tidied name, a comma and the address
};

// Empty when the engine unpacks and tidies `recipient` as the literal steps
// do; otherwise both outcomes.
std::string difference(const std::string& recipient, const Form& form) {
  Unpacked expected;
  try {
    literal::UnBuildMailTo(recipient, expected.name, expected.email, form.literal);
    expected.record =
        literal::tidyDisplayName(expected.name, expected.email, form.literal) + "," + expected.email;
  } catch (const literal::InvalidArgument&) {
    expected.failed = true;
  }

  Unpacked engine;
  engine.name = "held before";  // the unpacker must empty both first
  engine.email = "held before";
  std::string failure;
  try {
    UnBuildMailTo(recipient, engine.name, engine.email, form.engine);
    std::string scratch;
    engine.record = std::string(tidyDisplayName(engine.name, engine.email, scratch)) + "," + engine.email;
    // The record step has a way of its own for short recipients.
    const std::string stepRecord(UnbuildStep().record(recipient, form.engine));
    if (stepRecord != engine.record) failure = ", record step " + shown(stepRecord);
  } catch (const Failure& f) {
    engine.failed = true;
    if (f.number() != literal::kInvalidArgumentNumber || f.description() != literal::kInvalidArgument) {
      failure = " with " + std::to_string(f.number()) + " " + shown(f.description());
    }
  }

  if (engine.failed == expected.failed && engine.name == expected.name && engine.email == expected.email &&
      engine.record == expected.record && failure.empty()) {
    return {};
  }
  auto show = [](const Unpacked& u) {
    return (u.failed ? "fails, " : "") + shown(u.name) + " " + shown(u.email) + " -> " + shown(u.record);
  };
  return "recipient " + shown(recipient) + form.shown + "\n  engine:  " + show(engine) + failure +
         "\n  literal: " + show(expected);
}

TEST(Differential, UnpackerAndDisplayNameRulesAgreeWithTheLiteralSteps) {
  Fragments anyPieces(kRecipientPieces, 7);
  // Half the recipients are of ASCII pieces, the usual kind in files.
  std::vector<std::string> asciiPieces;
  std::copy_if(kRecipientPieces.begin(), kRecipientPieces.end(), std::back_inserter(asciiPieces),
               [](const std::string& piece) { return static_cast<unsigned char>(piece[0]) < 0x80; });
  Fragments ascii(asciiPieces, 8);
  int reported = 0;
  for (int n = 0; n < 30000 && reported < kMostReported; ++n) {
    Fragments& fragments = n % 4 < 2 ? anyPieces : ascii;
    const std::string found =
        difference(n % 2 == 0 ? fragments.text(12) : shapedRecipient(fragments), kForms[n / 4 % 2]);
    if (!found.empty()) {
      ++reported;
      ADD_FAILURE() << found;
    }
  }
}

TEST(Differential, StrayBytesAreNoLettersToTheMissingNameRule) {
  for (const std::string recipient : {"\"\xC9\" <\xE9>", "\"\xC3\" <\xE3>", "\"a\xDE\" <A\xFE>"}) {
    const std::string found = difference(recipient, kUtf8);
    EXPECT_TRUE(found.empty()) << found;
  }
}

std::string utf8(char32_t code) {
  if (code < 0x80) return std::string(1, static_cast<char>(code));
  if (code < 0x800) return {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
  if (code < 0x10000) {
    return {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
            static_cast<char>(0x80 | (code & 0x3F))};
  }
  return {static_cast<char>(0xF0 | (code >> 18)), static_cast<char>(0x80 | ((code >> 12) & 0x3F)),
          static_cast<char>(0x80 | ((code >> 6) & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
}

TEST(Differential, LowerCaseAgreesWithTheUnicodeDataOnEveryCharacter) {
  int reported = 0;
  for (char32_t code = 0; code <= 0x10FFFF; ++code) {  // lone surrogates included
    const std::string engine = utf8(toLower(code));
    const std::string expected = literal::lower(utf8(code));
    if (engine != expected && ++reported <= kMostReported) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(code) << ": engine " << shown(engine)
                    << ", expected " << shown(expected);
    }
  }
}

// A random input file of lines joined by every kind of line end.
std::string randomFile(Fragments& lines, Fragments& recipients, Fragments& choices) {
  static const char* const kLineEnds[] = {"\r\n", "\n", "\r"};
  std::string file;
  const int count = choices.below(6);
  for (int i = 0; i < count; ++i) {
    if (i > 0) file += kLineEnds[choices.below(3)];
    file += choices.below(2) == 0 ? lines.text(16) : recipients.text(4) + "," + shapedRecipient(recipients);
  }
  if (choices.below(2) == 0) file += kLineEnds[choices.below(3)];
  if (choices.below(8) == 0) file.insert(0, "\xEF\xBB\xBF");
  return file;
}

// A host that shows the status text at its own pace, as the window and
// tavrin-cli do: it notes what it shows when it asks or warns.
class PacedHost : public RecordingHost {
 public:
  std::vector<std::string> shownWhenSaid;

  std::chrono::steady_clock::duration statusInterval() override { return std::chrono::hours(1); }
  bool AskYesNo(std::string_view text) override {
    shownWhenSaid.push_back(shown());
    return RecordingHost::AskYesNo(text);
  }
  void ShowWarning(std::string_view text, std::string_view title) override {
    shownWhenSaid.push_back(shown());
    RecordingHost::ShowWarning(text, title);
  }
  std::string shown() const { return statusTexts.empty() ? "" : statusTexts.back(); }
};

TEST(Differential, WholeRunsAgreeWithTheLiteralSteps) {
  static const char* const kRunSeparators[] = {",", " ; ", "\t", "::", "   ", "", "é", "\xC3"};
  Fragments lines(kLinePieces, 11);
  Fragments recipients(kRecipientPieces, 12);
  Fragments choices({}, 13);
  TempDir dir;
  int reported = 0;
  for (int n = 0; n < 300 && reported < kMostReported; ++n) {
    const std::string content = randomFile(lines, recipients, choices);  // no piece begins a UTF-16 mark
    const std::string separator = kRunSeparators[choices.below(8)];
    const bool unbuild = choices.below(2) == 0;
    std::vector<bool> answers;
    for (int i = 0; i < 4; ++i) answers.push_back(choices.below(3) != 0);

    std::size_t asked = 0;
    const literal::RunOutcome expected = literal::ConversionRun(
        content, separator, unbuild, [&] { return asked < answers.size() ? answers[asked++] : true; },
        literal::Form::Utf8);

    RecordingHost host;
    host.separator = separator;
    host.unbuild = unbuild;
    host.answers = answers;
    host.inputFileName = dir.write("in.txt", content);
    host.outputFileName = dir.file("out.txt");
    ConversionRun(host);
    const std::string output = readFile(host.outputFileName);

    if (output != expected.output || host.statusTexts != expected.statusTexts ||
        host.questions != expected.questions || host.warnings != expected.warnings ||
        host.separatorsSet != expected.separatorsSet || !host.messages.empty()) {
      ++reported;
      ADD_FAILURE() << "input " << shown(content) << ", separator " << shown(separator)
                    << (unbuild ? ", unbuild" : "") << "\n  engine:  " << shown(output) << " status "
                    << shown(host.statusTexts) << " questions " << shown(host.questions) << " warnings "
                    << shown(host.warnings) << " messages " << shown(host.messages)
                    << "\n  literal: " << shown(expected.output) << " status " << shown(expected.statusTexts)
                    << " questions " << shown(expected.questions) << " warnings " << shown(expected.warnings);
    }
    EXPECT_EQ(readFile(host.inputFileName), content) << "the input file changed";

    // Paced, the host still shows the token of every question and warning,
    // and the last token at the end.
    PacedHost paced;
    paced.separator = separator;
    paced.unbuild = unbuild;
    paced.answers = answers;
    paced.inputFileName = host.inputFileName;
    paced.outputFileName = host.outputFileName;
    ConversionRun(paced);
    const std::string last = expected.statusTexts.empty() ? "" : expected.statusTexts.back();
    if (readFile(paced.outputFileName) != output || paced.shownWhenSaid != expected.shownWhenSaid ||
        paced.shown() != last) {
      ++reported;
      ADD_FAILURE() << "paced, input " << shown(content) << ", separator " << shown(separator)
                    << (unbuild ? ", unbuild" : "") << "\n  shown when said " << shown(paced.shownWhenSaid)
                    << ", last " << shown(paced.shown()) << "\n  literal: " << shown(expected.shownWhenSaid)
                    << ", last " << shown(last);
    }
  }
}

TEST(Differential, PacedStatusKeepsItsTokenWhileTheReaderMovesOn) {
  // Two MiB of empty lines make the reader move its text between the token
  // and the warning about the last line.
  TempDir dir;
  PacedHost host;
  host.inputFileName = dir.write("in.txt", "first\r\n" + std::string(2 << 20, '\n') + "a,\"b\r\n");
  host.outputFileName = dir.file("out.txt");
  ConversionRun(host);
  EXPECT_EQ(host.shownWhenSaid, std::vector<std::string>{"1 - " + isolated("first")});
  EXPECT_EQ(host.shown(), "1 - " + isolated("first"));
}

// The switch that the tests use to run every vector path.
TEST(Differential, RunsOnTheVectorPathAsked) {
  const char* asked = std::getenv("TAVRIN_VECTOR_PATH");
  if (asked == nullptr) GTEST_SKIP() << "TAVRIN_VECTOR_PATH is not set: the best path runs";
#if defined(__x86_64__)
  if (std::string_view(asked) == "avx2" && !__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
  EXPECT_EQ(vectorPathName(vectorPath()), asked);
#else
  EXPECT_EQ(vectorPathName(vectorPath()), "portable");
#endif
}

}  // namespace
}  // namespace tavrin
