#include "server/token_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "tests/server/temp_folder.h"

namespace {

TEST(TokenList, NamesTokensMatchesWholeTokensAndRefusesFilesOthersMayRead) {
    TempFolder folder;
    std::string error;
    auto tokens = TokenList::load(folder.write("tokens",
                                               "# monitors\n"
                                               "live: s3cret-live\n"
                                               "\n"
                                               "   # batch jobs\n"
                                               "unnamed-token\r\n"
                                               "batch:with:colon\n"),
                                  error);
    ASSERT_TRUE(tokens) << error;
    for (const auto& [bearer, name] : std::vector<std::pair<std::string, std::string>>{
             {"s3cret-live", "live"}, {"unnamed-token", "line 5"}, {"with:colon", "batch"}}) {
        ASSERT_NE(tokens->nameOf(bearer), nullptr) << bearer;
        EXPECT_EQ(*tokens->nameOf(bearer), name);
    }
    // Not a prefix, an extension, another case, a name, a comment, or nothing.
    for (const char* wrong :
         {"s3cret-liv", "s3cret-live ", "S3CRET-LIVE", "live", "# monitors", ""}) {
        EXPECT_EQ(tokens->nameOf(wrong), nullptr) << wrong;
    }

    // Refused: a file its group or others may read or write, one without tokens, a bad line.
    for (auto [mode, octal] : {std::pair{0640, "0640"}, {0604, "0604"}, {0620, "0620"}}) {
        std::string path = folder.write("shared", "live:s3cret\n", mode);
        EXPECT_FALSE(TokenList::load(path, error));
        EXPECT_EQ(error, "token file " + path +
                             ": its group or others may read or write it (mode " + octal +
                             "); make it readable by the service only: chmod 600 " + path);
    }
    EXPECT_TRUE(TokenList::load(folder.write("private", "live:s3cret\n", 0400), error));

    // Not a regular file: refused at once. A FIFO without a writer would hold the reading open;
    // should it, a writer comes after 10 s, so that the test ends.
    std::string fifo = folder.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto fromFifo = std::async(std::launch::async, [&] {
        std::string why;
        return TokenList::load(fifo, why) ? std::string("loaded") : why;
    });
    bool waited = fromFifo.wait_for(std::chrono::seconds(10)) == std::future_status::timeout;
    if (waited)
        close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    EXPECT_FALSE(waited) << "the load waited for a writer";
    EXPECT_EQ(fromFifo.get(), "token file " + fifo + ": not a regular file but a FIFO");
    for (const auto& [path, kind] : std::vector<std::pair<std::string, std::string>>{
             {folder.path(), "a directory"}, {"/dev/null", "a device"}}) {
        EXPECT_FALSE(TokenList::load(path, error));
        EXPECT_EQ(error, "token file " + path + ": not a regular file but " + kind);
    }

    for (const auto& [text, reason] : std::vector<std::pair<std::string, std::string>>{
             {"# none yet\n\n", ": holds no token"},
             {"ok:fine\n:s3cret\nlive:\n", ", line 2: expected name:token or token"}}) {
        std::string path = folder.write("tokens", text);
        EXPECT_FALSE(TokenList::load(path, error));
        EXPECT_EQ(error, "token file " + path + reason);
    }
}

// A reload keeps what is still in the list, by its secret: a bare token that other lines moved
// stays; a name whose secret changed is revoked.
TEST(TokenList, HoldsATokenByItsSecretWhateverItsName) {
    TempFolder folder;
    std::string error;
    auto tokens =
        TokenList::load(folder.write("tokens", "# moved\nlive:new-secret\nbare\n"), error);
    ASSERT_TRUE(tokens) << error;
    for (const auto& [secret, held] : std::vector<std::pair<std::string, bool>>{
             {"old-secret", false}, {"new-secret", true}, {"bare", true}, {"live", false}}) {
        EXPECT_EQ(tokens->holds(TokenList::digestOf(secret)), held) << secret;
    }
}

}  // namespace
