#include "toolkit/locale_setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "toolkit/diagnostics.h"

namespace {

// Restores LANG and the process locale after a test that changes them.
class LocaleSetup : public ::testing::Test {
protected:
    void SetUp() override {
        const char* lang = std::getenv("LANG");
        hadLang = lang != nullptr;
        if (hadLang) savedLang = lang;
    }
    void TearDown() override {
        if (hadLang)
            setenv("LANG", savedLang.c_str(), 1);
        else
            unsetenv("LANG");
        setlocale(LC_ALL, "C");
    }

    bool hadLang = false;
    std::string savedLang;
};

}  // namespace

TEST_F(LocaleSetup, MissingLangIsReported) {
    fy::DiagnosticCapture capture;
    unsetenv("LANG");
    fy::setupLocaleFromEnvironment();
    EXPECT_EQ("LANG environment variable is not defined!\n", capture.text());
    EXPECT_EQ(nullptr, std::getenv("LANG"));
}

TEST_F(LocaleSetup, ALanguageSelectsThePosixLocaleAndRecordsItsName) {
    fy::DiagnosticCapture capture;
    setenv("LANG", "xx_YY.UTF-8", 1);
    fy::setupLocaleFromEnvironment();
    EXPECT_EQ("", capture.text());
    const char* chosen = setlocale(LC_ALL, nullptr);
    ASSERT_NE(nullptr, chosen);
    ASSERT_NE(nullptr, std::getenv("LANG"));
    EXPECT_STREQ(chosen, std::getenv("LANG"));
}

TEST_F(LocaleSetup, AnEmptyLanguagePartChangesNothing) {
    fy::DiagnosticCapture capture;
    setenv("LANG", ".UTF-8", 1);
    fy::setupLocaleFromEnvironment();
    EXPECT_EQ("", capture.text());
    EXPECT_STREQ(".UTF-8", std::getenv("LANG"));
}
