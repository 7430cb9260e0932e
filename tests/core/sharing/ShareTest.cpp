#include "core/sharing/Share.h"

#include "core/settings/Settings.h"
#include "core/common/TextHelpers.h"
#include "support/TestFolders.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <mutex>
#include <set>

using namespace sonabox;

namespace {

std::string Entry(const std::string &title, const std::string &id) {
  return "<entry><media:title type='plain'>" + title +
         "</media:title><media:player url='http://127.0.0.1:8472/watch?v=" + id +
         "'/></media:player url><yt:duration seconds='61'></yt></entry>";
}

std::string Field(const test::FormFields &fields, const std::string &name) {
  for (const auto &[key, value] : fields)
    if (key == name) return value;
  return "<missing>";
}

class ShareTest : public ::testing::Test {
protected:
  void SetUp() override { StoreWriteString("VideoWebHost", "127.0.0.1:8472"); }
  void StartServer() {
    server.Start();
    StoreWriteString("ServiceHost", server.Host());
  }

  test::TestFolders folders;
  test::LocalHttpServer server;
  std::mutex mutex;
};

} // namespace

TEST(ShareStamp, DateAndLongTimeButNoTimeAtMidnight) {
  const QDate date(2009, 2, 3);
  const std::string atMidnight = ShareStamp(QDateTime(date, QTime(0, 0)));
  const std::string afternoon = ShareStamp(QDateTime(date, QTime(14, 5, 9)));
  EXPECT_FALSE(atMidnight.empty());
  EXPECT_EQ(afternoon.substr(0, atMidnight.size() + 1), atMidnight + " ");
  EXPECT_NE(afternoon.find("05"), std::string::npos);
  // A millisecond past midnight is not midnight.
  EXPECT_NE(ShareStamp(QDateTime(date, QTime(0, 0, 0, 1))), atMidnight);
}

TEST_F(ShareTest, SendShareSignsTheFieldsAndAnswersTheCode) {
  std::string target;
  test::FormFields fields;
  server.Http().Post(
      "/interface/share.php",
      [&](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &read) {
        const std::lock_guard lock(mutex);
        target = req.target;
        fields = test::ReadFormFields(read);
        res.set_content("  CODE-42\r\n", "text/plain");
      });
  StartServer();

  const struct {
    std::vector<std::string> entries;
    std::string receipt;
  } cases[] = {
      {{Entry("One", "a1"), Entry("Two", "b2")}, "receipt text"},
      {{}, ""}, // no entry at all: the token is the digest of the stamp alone
  };
  for (const auto &c : cases) {
    TShare share;
    share.SetReceipt(c.receipt);
    share.SetFrom("Ann \xc3\x85se", "ann@example.org");
    share.SetNote("Listen to these\r\nnow");
    share.SetTitle("Friday's songs");
    share.SetTo("Bob", "bob@example.org");
    for (const std::string &entry : c.entries) share.AddEntry(entry);

    const QDateTime before = QDateTime::currentDateTime();
    EXPECT_EQ(share.SendShare(), "CODE-42");
    const QDateTime after = QDateTime::currentDateTime();

    const std::lock_guard lock(mutex);
    std::vector<std::string> names;
    for (const auto &field : fields) names.push_back(field.first);
    EXPECT_EQ(names,
              (std::vector<std::string>{"hash", "token", "receipt", "payload", "note", "toName",
                                        "toEmail", "fromName", "fromEmail", "title"}));
    const std::string payload = Base64Decode(Field(fields, "payload"));
    std::string joined;
    for (const std::string &entry : c.entries) joined += entry;
    EXPECT_EQ(payload, joined);
    EXPECT_EQ(Base64Decode(Field(fields, "receipt")), c.receipt);
    EXPECT_EQ(Field(fields, "toName"), "Bob");
    EXPECT_EQ(Field(fields, "fromName"), "Ann \xc3\x85se");

    // The service's check: the token is 20 digits of the stamp's digest, and
    // the request hash is made from the token and the decoded fields.
    const std::string token = Field(fields, "token");
    ASSERT_EQ(token.size(), 20u);
    std::set<std::string> possibleTokens;
    for (QDateTime t = before.addMSecs(-before.time().msec()); t <= after; t = t.addSecs(1))
      possibleTokens.insert(Sha1Hex(ShareStamp(t) + payload).substr(0, 20));
    EXPECT_TRUE(possibleTokens.count(token)) << token;
    const std::string note = Base64Decode(Field(fields, "note"));
    const std::string title = Base64Decode(Field(fields, "title"));
    EXPECT_EQ(note, "Listen to these\r\nnow");
    EXPECT_EQ(title, "Friday's songs");
    EXPECT_EQ(
        Field(fields, "hash"),
        Sha1Hex(token + payload + Field(fields, "fromEmail") + Field(fields, "toEmail") + "QWWQ") +
            Sha1Hex(token + Field(fields, "fromName") + Field(fields, "toName") + "GHHG") +
            Sha1Hex(token + title + note + "UYYU"));

    const std::string prefix = "/interface/share.php?";
    ASSERT_EQ(target.substr(0, prefix.size()), prefix);
    int number = -1;
    EXPECT_TRUE(TryParseInt32(target.substr(prefix.size()), number));
    EXPECT_TRUE(number >= 0 && number < 5000) << target;
  }
}

TEST_F(ShareTest, ARefusedShareHasNoCode) {
  int status = 500;
  std::string answer = "server trouble";
  server.Http().Post("/interface/share.php", [&](const httplib::Request &, httplib::Response &res) {
    res.status = status;
    res.set_content(answer, "text/plain");
  });
  StartServer();
  {
    TShare share;
    EXPECT_EQ(share.SendShare(), "");
  }
  status = 200;
  answer = "ERROR\r\n";
  TShare share;
  EXPECT_EQ(share.SendShare(), "");
}

TEST_F(ShareTest, FetchShareReadsTheAnswer) {
  const std::string two = Entry("One", "a1") + "\r\n" + Entry("Two", "b2");
  const struct {
    int status;
    std::string answer;
    bool found;
    std::size_t videos;
    std::string title, note; // "old ..." when they stay as they were
  } cases[] = {
      {200, Base64Encode("Shared title\r\nA note\r\n" + two), true, 2, "Shared title", "A note"},
      // Exactly two lines: both are entries, title and note stay.
      {200, Base64Encode(two), true, 2, "old title", "old note"},
      // More than two lines but no entry: the title and note are taken all the same.
      {200, Base64Encode("T\r\nN\r\nnothing here"), false, 0, "T", "N"},
      {200, "NOSUCHCODE", false, 0, "old title", "old note"},
      // Twenty characters are never decoded, even when they are base64 of an entry.
      {200, Base64Encode("<entry></entry>"), false, 0, "old title", "old note"},
      {404, "not found", false, 0, "old title", "old note"},
  };
  ASSERT_EQ(cases[4].answer.size(), 20u);
  std::size_t index = 0;
  std::string key, target;
  server.Http().Post("/interface/getshare.php", [&](const httplib::Request &req,
                                                    httplib::Response &res,
                                                    const httplib::ContentReader &read) {
    const std::lock_guard lock(mutex);
    const test::FormFields fields = test::ReadFormFields(read);
    key = fields.size() == 1 && fields[0].first == "share_key" ? fields[0].second : "<bad form>";
    target = req.target;
    res.status = cases[index].status;
    res.set_content(cases[index].answer, "text/plain");
  });
  StartServer();

  for (index = 0; index < std::size(cases); ++index) {
    const auto &c = cases[index];
    TShare share;
    share.SetTitle("old title");
    share.SetNote("old note");
    EXPECT_EQ(share.FetchShare(" \tAB12CD \r\n"), c.found) << index;
    EXPECT_EQ(share.VideoCount(), static_cast<int>(c.videos)) << index;
    EXPECT_EQ(share.ShareTitle(), c.title) << index;
    EXPECT_EQ(share.ShareNote(), c.note) << index;
    const std::lock_guard lock(mutex);
    EXPECT_EQ(key, "AB12CD") << index;
    EXPECT_EQ(target.rfind("/interface/getshare.php?", 0), 0u) << target;
  }

  index = 0;
  TShare share;
  ASSERT_TRUE(share.FetchShare("AB12CD"));
  ASSERT_EQ(share.SharedVideos().size(), 2u);
  EXPECT_EQ(share.SharedVideos()[0].Title, "One");
  EXPECT_EQ(share.SharedVideos()[0].Url, "a1");
  EXPECT_EQ(share.SharedVideos()[1].Url, "b2");
  EXPECT_EQ(share.SharedVideos()[1].Duration, "1:01");
}
