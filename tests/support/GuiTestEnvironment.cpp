// Linked into GUI test programs: creates the QApplication that widgets, fonts and images need before
// the first test runs (on the offscreen platform, which add_unit_test(... GUI) selects) and keeps
// it until the program ends.

#include <memory>

#include <QApplication>
#include <gtest/gtest.h>

namespace {

class GuiTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      application_ = std::make_unique<QApplication>(argc_, argv_);
    }
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "tarvelo-test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

// Registered before main() runs; GoogleTest owns the environment.
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace
