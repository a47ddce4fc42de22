#include "server/token_list.h"

#include <gtest/gtest.h>

#include "tests/server/temp_folder.h"

namespace {

TEST(TokenList, NamesEachTokenAndSkipsBlankAndCommentLines) {
    TempFolder folder;
    std::string path = folder.write("tokens",
                                    "# monitors\n"
                                    "live: s3cret-live\n"
                                    "\n"
                                    "   # batch jobs\n"
                                    "unnamed-token\r\n"
                                    "batch:with:colon\n");
    std::string error;
    auto tokens = TokenList::load(path, error);
    ASSERT_TRUE(tokens) << error;

    ASSERT_NE(tokens->nameOf("s3cret-live"), nullptr);
    EXPECT_EQ(*tokens->nameOf("s3cret-live"), "live");
    ASSERT_NE(tokens->nameOf("unnamed-token"), nullptr);
    EXPECT_EQ(*tokens->nameOf("unnamed-token"), "line 5");
    ASSERT_NE(tokens->nameOf("with:colon"), nullptr);
    EXPECT_EQ(*tokens->nameOf("with:colon"), "batch");

    // Only the whole token: not a prefix, an extension, another case, the name, or nothing.
    for (const char* wrong : {"s3cret-liv", "s3cret-live ", "S3CRET-LIVE", "live", "", "# monitors",
                              "live: s3cret-live"}) {
        EXPECT_EQ(tokens->nameOf(wrong), nullptr) << wrong;
    }
}

TEST(TokenList, RefusesFilesOthersMayReadAndFilesWithoutTokens) {
    TempFolder folder;
    std::string error;
    for (mode_t mode : {0640, 0604, 0620, 0602}) {
        std::string path = folder.write("shared", "live:s3cret\n", mode);
        EXPECT_FALSE(TokenList::load(path, error));
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
        EXPECT_EQ(error, "token file " + path +
                             ": its group or others may read or write it (mode " + octal +
                             "); make it readable by the service only: chmod 600 " + path);
    }
    EXPECT_TRUE(TokenList::load(folder.write("private", "live:s3cret\n", 0400), error));

    std::string empty = folder.write("empty", "# none yet\n\n");
    EXPECT_FALSE(TokenList::load(empty, error));
    EXPECT_EQ(error, "token file " + empty + ": holds no token");

    std::string nameless = folder.write("nameless", "ok:fine\n:s3cret\n");
    EXPECT_FALSE(TokenList::load(nameless, error));
    EXPECT_EQ(error, "token file " + nameless + ", line 2: expected name:token or token");

    EXPECT_FALSE(TokenList::load(folder.write("missing-secret", "live:\n"), error));
    EXPECT_FALSE(TokenList::load("/nonexistent/tokens", error));
    EXPECT_EQ(error, "token file /nonexistent/tokens: cannot be opened");
}

}  // namespace
