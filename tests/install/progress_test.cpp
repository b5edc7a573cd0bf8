// Progress reports: the bar position and the ProgressMessage the window gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "app/messages.h"
#include "install/progress.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

struct PositionCase {
  const char* scenario;
  std::uint64_t done;
  std::uint64_t total;
  unsigned expected;
};

void PrintTo(const PositionCase& c, std::ostream* out) { *out << c.scenario; }

class ProgressPositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ProgressPositionTest, ScalesToAThousand) {
  EXPECT_EQ(ProgressPosition(GetParam().done, GetParam().total), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressPositionTest,
    ::testing::Values(
        PositionCase{"zero total", 0, 0, 0},
        PositionCase{"zero total with bytes done", 12345, 0, 0},
        PositionCase{"nothing done", 0, 1, 0},
        PositionCase{"all done", 1, 1, 1000},
        PositionCase{"half", 1, 2, 500},
        PositionCase{"a third truncates", 1, 3, 333},
        PositionCase{"two thirds truncate", 2, 3, 666},
        PositionCase{"just under one step", 1, 1001, 0},
        PositionCase{"one step", 1, 1000, 1},
        PositionCase{"last step before the end", 999, 1000, 999},
        PositionCase{"beyond the total is capped", 2, 1, 1000},
        PositionCase{"far beyond the total is capped", kMax, 1, 1000},
        PositionCase{"largest values, all done", kMax, kMax, 1000},
        PositionCase{"largest total, one less done", kMax - 1, kMax, 999},
        PositionCase{"largest total, half done", kMax / 2, kMax, 499},
        PositionCase{"done * 1000 beyond 64 bits, half", std::uint64_t{1} << 62,
                     std::uint64_t{1} << 63, 500},
        PositionCase{"100 PB of 400 PB", 100000000000000000ull, 400000000000000000ull, 250},
        PositionCase{"one byte of an exabyte", 1, 1000000000000000000ull, 0}));

class PostProgressTest : public ::testing::Test {
 protected:
  lbtest::MessageSink sink_{true};
};

struct PostCase {
  const char* scenario;
  std::wstring status;
  std::wstring detail;
  std::uint64_t done;
  std::uint64_t total;
  WPARAM position;
  std::string text;
};

void PrintTo(const PostCase& c, std::ostream* out) { *out << c.scenario; }

class PostProgressTableTest : public PostProgressTest,
                              public ::testing::WithParamInterface<PostCase> {};

TEST_P(PostProgressTableTest, PostsOneProgressMessage) {
  const PostCase& c = GetParam();
  PostProgress(c.status, c.detail, c.done, c.total);
  auto received = sink_.Drain();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].message, ProgressMessage);
  EXPECT_EQ(received[0].wparam, c.position);
  EXPECT_EQ(Narrow(received[0].text), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PostProgressTableTest,
    ::testing::Values(
        PostCase{"first report of a run", L"Preparando instalacao",
                 L"Consultando a versao mais recente...", 0, 1, 0,
                 "Preparando instalacao\nConsultando a versao mais recente..."},
        PostCase{"file progress", L"Baixando Lanternbrook", L"bin\\LanternbrookEmulator.exe",
                 3 * 1048576ull, 12 * 1048576ull, 250,
                 "Baixando Lanternbrook\nbin\\LanternbrookEmulator.exe"},
        PostCase{"zero total", L"Verificando instalacao", L"a.bin", 10, 0, 0,
                 "Verificando instalacao\na.bin"},
        PostCase{"capped", L"Finalizando instalacao",
                 L"Criando atalhos e configurando atualizacoes...", 50, 10, 1000,
                 "Finalizando instalacao\nCriando atalhos e configurando atualizacoes..."},
        PostCase{"64-bit counters", L"Baixando Lanternbrook", L"big.bin", kMax / 4, kMax / 2, 499,
                 "Baixando Lanternbrook\nbig.bin"},
        PostCase{"empty texts keep the line feed", L"", L"", 1, 1, 1000, "\n"},
        PostCase{"line feed inside the detail stays", L"Estado", L"a\nb", 0, 1, 0,
                 "Estado\na\nb"}));

TEST_F(PostProgressTest, ReportsKeepTheirOrder) {
  for (int i = 0; i <= 10; ++i) PostProgress(L"Baixando Lanternbrook", L"f", i, 10);
  auto received = sink_.Drain();
  ASSERT_EQ(received.size(), 11u);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(received[i].wparam, static_cast<WPARAM>(i * 100));
}

}  // namespace
