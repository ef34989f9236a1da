#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <string_view>

#include "engine/address_unpacker.hpp"
#include "engine/run_host.hpp"
#include "engine/text_file.hpp"
#include "engine/tokenizer.hpp"
#include "engine/unbuild_records.hpp"

namespace tavrin {
namespace {

// Recipients in the forms mail programs write, as the tokenizer hands them on
// (with the blank after the separator).
constexpr std::array<std::string_view, 8> kTokens = {
    " \"Smith, Anna\" <anna.smith@example.com>",
    " \"Ben Jones\" <ben.jones42@mail.example.net>",
    " carla.miller@example.org",
    " David Wilson <david.wilson@example.de>",
    " \"Acme, Inc.\" <sales@acme.example.com>",
    " Globex Corp. <info@globex.example.com>",
    " \"Taylor, Emma (Accounting)\" <emma.taylor@corp.example.co.uk>",
    " \"Müller, Jürgen\" <juergen.mueller@example.de>",
};

std::string typicalLine() {
  std::string line;
  for (const std::string_view token : kTokens) {
    if (!line.empty()) line += ',';
    line += token;
  }
  return line;
}

// Every iteration handles all typical tokens once; the summary divides by them.
void reportTokens(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kTokens.size()));
  state.counters["tokens"] = static_cast<double>(kTokens.size());
}

// The tokenizer reports open quotes to its host; these runs have none.
class SilentHost final : public RunHost {
 public:
  std::string GetSeparator() override { return ","; }
  void SetSeparator(std::string_view) override {}
  std::string GetInputFileName() override { return {}; }
  std::string GetOutputFileName() override { return {}; }
  bool IsUnbuildChecked() override { return false; }
  void SetStatusText(std::string_view) override {}
  void RefreshStatus() override {}
  void ShowMessage(std::string_view) override {}
  bool AskYesNo(std::string_view) override { return true; }
  void ShowWarning(std::string_view, std::string_view) override {}
};

void BM_GetTokens(benchmark::State& state) {
  const std::string line = typicalLine();
  SilentHost host;
  TokenList tokens;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetTokens(line, ",", tokens, "\"", host, TextForm::Utf8));
  }
  reportTokens(state);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_GetTokens);

void BM_UnBuildMailTo(benchmark::State& state) {
  std::string name;
  std::string email;
  for (auto _ : state) {
    for (const std::string_view token : kTokens) {
      UnBuildMailTo(token, name, email, TextForm::Utf8);
      benchmark::DoNotOptimize(name.data());
      benchmark::DoNotOptimize(email.data());
    }
  }
  reportTokens(state);
}
BENCHMARK(BM_UnBuildMailTo);

// Unpacking, tidying the name and writing the record line, as unbuild mode
// does for each token.
void BM_UnbuildStep(benchmark::State& state) {
  TextWriter output;
  output.open("/dev/null", decideOutput("/dev/null"));
  output.start(Encoding::Utf8);
  UnbuildStep step;
  bool firstRecord = true;
  for (auto _ : state) {
    for (const std::string_view token : kTokens) step.write(token, output, firstRecord, TextForm::Utf8);
  }
  output.close();
  reportTokens(state);
}
BENCHMARK(BM_UnbuildStep);

}  // namespace
}  // namespace tavrin

BENCHMARK_MAIN();
