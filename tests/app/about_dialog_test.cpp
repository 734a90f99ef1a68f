#include "app/about_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shell.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

namespace {

class AboutDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetShellLauncher([this](const ShellRequest& r) {
      opened_.push_back(r.argv.empty() ? std::string() : r.argv[0]);
      return true;
    });
    box_ = ui_.open(IDD_ABOUT, proc_);
    ASSERT_NE(box_, nullptr);
  }
  void TearDown() override { SetShellLauncher(previous_); }

  AboutDialogProc proc_;
  HeadlessUi ui_;
  HeadlessWindow* box_ = nullptr;
  ShellLauncher previous_;
  std::vector<std::string> opened_;
};

TEST_F(AboutDialogTest, ShowsTheProgramsNameFirst) {
  EXPECT_EQ(box_->text(0), "About Quillfen");
  const DialogTemplate* tmpl = FindDialogTemplate(IDD_ABOUT);
  ASSERT_NE(tmpl, nullptr);
  const ControlTemplate* firstText = nullptr;
  for (int i = 0; i < tmpl->controlCount && !firstText; ++i)
    if (tmpl->controls[i].kind == ControlKind::Static) firstText = &tmpl->controls[i];
  ASSERT_NE(firstText, nullptr);
  EXPECT_STREQ(firstText->caption, "Quillfen");
  EXPECT_EQ(box_->text(IDC_HOME_PAGE), "&Tarnwell Home Page");
  EXPECT_EQ(box_->text(ID_OK), "OK");
}

TEST_F(AboutDialogTest, HomePageButtonOpensThePageAndLeavesTheBoxOpen) {
  box_->click(IDC_HOME_PAGE);
  EXPECT_FALSE(box_->ended());
  EXPECT_EQ(opened_, std::vector<std::string>{"https://tarnwell.example/quillfen"});
  box_->command(IDC_HOME_PAGE, 1);  // not a click
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(AboutDialogTest, OkEndsWithOneAndTheCloseBoxWithZero) {
  box_->command(ID_OK, 1);
  EXPECT_FALSE(box_->ended()) << "only clicks count";
  box_->click(ID_OK);
  EXPECT_TRUE(box_->ended());
  EXPECT_EQ(box_->result(), 1);

  AboutDialogProc again;
  HeadlessWindow* second = ui_.open(IDD_ABOUT, again);
  ASSERT_NE(second, nullptr);
  second->close();
  EXPECT_TRUE(second->ended());
  EXPECT_EQ(second->result(), 0);
}

TEST_F(AboutDialogTest, EscapeLeavesTheBoxOpen) {
  box_->command(ID_CANCEL, 0);
  EXPECT_FALSE(box_->ended());
}

}  // namespace
