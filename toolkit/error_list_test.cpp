#include "toolkit/error_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "toolkit/diagnostics.h"

namespace {

std::string printed(const LuExceptionHandler& list) {
    std::ostringstream out;
    out << list;
    return out.str();
}

}  // namespace

TEST(LuExceptionHandler, NewestEntryComesFirstAndDecidesHasError) {
    LuExceptionHandler list;
    EXPECT_TRUE(list.isEmpty());
    EXPECT_FALSE(list.hasError());
    EXPECT_EQ(nullptr, list.newest());

    LuExceptionHandler::addError(list, "Error binding socket: %s", "Address already in use");
    EXPECT_TRUE(list.hasError());
    LuExceptionHandler::addWarning(list, "port %d busy", 4000);
    EXPECT_FALSE(list.hasError());  // the older error is still there, but not newest
    EXPECT_FALSE(list.isEmpty());

    const LuErrorEntry* newest = list.newest();
    ASSERT_NE(nullptr, newest);
    EXPECT_TRUE(newest->isWarning());
    EXPECT_EQ(LuStr("port 4000 busy"), newest->message());
    ASSERT_NE(nullptr, newest->next());
    EXPECT_FALSE(newest->next()->isWarning());
    EXPECT_EQ(LuStr("Error binding socket: Address already in use"), newest->next()->message());
    EXPECT_EQ(nullptr, newest->next()->next());

    list.clear();
    EXPECT_TRUE(list.isEmpty());
    EXPECT_FALSE(list.hasError());
    EXPECT_EQ(nullptr, list.newest());
}

TEST(LuExceptionHandler, FormattedMessagesAreCutTo1023Characters) {
    LuExceptionHandler list;
    std::string text(2000, 'e');
    LuExceptionHandler::addError(list, "%s", text.c_str());
    EXPECT_EQ(1023, list.newest()->message().length());
    LuExceptionHandler::addWarning(list, "%s!", text.c_str());
    EXPECT_EQ(1023, list.newest()->message().length());
    // A ready string is kept whole.
    LuExceptionHandler::addError(list, LuStr(text.c_str()));
    EXPECT_EQ(2000, list.newest()->message().length());
}

TEST(LuExceptionHandler, TheFormsWithoutAListUseTheProcessWideOne) {
    LuExceptionHandler& shared = LuExceptionHandler::processWide();
    shared.clear();
    LuExceptionHandler::addWarning("w%d", 1);
    EXPECT_FALSE(shared.hasError());
    LuExceptionHandler::addError("e%d", 2);
    EXPECT_TRUE(shared.hasError());
    EXPECT_EQ(LuStr("e2"), shared.newest()->message());
    LuExceptionHandler::addWarning(LuStr("w3 100%"));
    EXPECT_EQ(LuStr("w3 100%"), shared.newest()->message());
    shared.clear();
    EXPECT_TRUE(shared.isEmpty());
}

TEST(LuExceptionHandler, PrintingIndentsFurtherLinesUnderTheText) {
    LuExceptionHandler list;
    list.pushError(LuStr("first line\nsecond line"));
    list.pushWarning(LuStr("careful\nreally\n"));
    EXPECT_EQ("WARNING: careful\n"
              "         really\n"
              "ERROR: first line\n"
              "       second line\n",
              printed(list));
    LuExceptionHandler empty;
    EXPECT_EQ("", printed(empty));
}

TEST(LuExceptionHandler, FlushWritesEmptiesAndReportsTheNewestKind) {
    fy::DiagnosticCapture capture;
    LuExceptionHandler list;
    EXPECT_FALSE(list.flush());
    EXPECT_EQ("", capture.text());

    list.pushWarning(LuStr("w"));
    list.pushError(LuStr("e"));
    EXPECT_TRUE(list.flush());
    EXPECT_EQ("ERROR: e\nWARNING: w\n", capture.text());
    EXPECT_TRUE(list.isEmpty());

    capture.clear();
    list.pushError(LuStr("e"));
    list.pushWarning(LuStr("w 100%"));
    EXPECT_FALSE(list.flush());
    EXPECT_EQ("WARNING: w 100%\nERROR: e\n", capture.text());
}
