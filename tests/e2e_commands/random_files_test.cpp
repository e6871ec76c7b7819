// Seeded random bookmark files opened through the real program, one after another in one run:
// each count it shows, and at the end every byte it saves, checked against the reference model
// of the randomised tests.
#include <random>

#include "app_steps.h"
#include "e2e_support.h"
#include "link_model.h"
#include "random_text.h"

namespace {

// Three dozen files in three runs of the program, each a fresh one, so that each run stays within
// a test's time limit.
constexpr uint32_t kFilesPerRun = 12;

class RandomFiles : public StartedProgram, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RandomFiles, ShowTheModelsCountsAndSaveItsLinks) {
  std::string expected;
  const uint32_t firstSeed = GetParam();
  for (uint32_t seed = firstSeed; seed < firstSeed + kFilesPerRun; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::string bytes = RandomBookmarksFile(rng, 2000 + rng() % 20000);
    if (rng() % 4 == 0) bytes.insert(rng() % bytes.size(), 1, rng() % 2 ? '\x1A' : '\0');
    const std::vector<std::string> links = ModelLinks(std::string_view(bytes).substr(0, ModelTextEnd(bytes)));

    const std::string path = folder_.file("随机" + std::to_string(seed) + ".html");
    ASSERT_OK(uidriver::WriteFileBytes(path, bytes));
    ASSERT_OK(steps::OpenFile(program_, path));
    uidriver::Status shown = program_.waitForText(label(), steps::CountCaption(static_cast<int>(links.size())));
    ASSERT_TRUE(shown) << shown.error << "; the file begins " << Hex(bytes.substr(0, 200));
    if (links.empty()) {
      uidriver::Result<steps::Box> box = steps::AnswerBox(program_, IDOK);
      ASSERT_TRUE(box) << box.error;
      EXPECT_EQ(box.value.text, steps::kNoLinkText);
    }
    expected += steps::LinkLines(links);
  }
  // A last file with a link, so that Save has something to do, then everything collected.
  const std::string last = folder_.file("最后.html");
  ASSERT_OK(uidriver::WriteFileBytes(last, steps::BookmarksHtml({"http://last.example/"})));
  ASSERT_OK(steps::OpenFile(program_, last));
  ASSERT_OK(program_.waitForText(label(), steps::CountCaption(1)));
  expected += "http://last.example/\r\n";
  ASSERT_OK(steps::ClickSave(program_));
  uidriver::Result<steps::Box> saved = steps::AnswerBox(program_, IDNO);
  ASSERT_TRUE(saved) << saved.error;
  EXPECT_EQ(saved.value.caption, steps::kSavedCaption);
  uidriver::Result<std::string> written = uidriver::ReadFileBytes(folder_.file("bookmarks.txt"));
  ASSERT_TRUE(written) << written.error;
  EXPECT_EQ(written.value, expected);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomFiles, ::testing::Values(9100u, 9100u + kFilesPerRun, 9100u + 2 * kFilesPerRun),
                         [](const auto& info) { return "From" + std::to_string(info.param); });

}  // namespace
