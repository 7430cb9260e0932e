// The library's categories as the program asks for and reads them.
#include "core/search/Categories.h"

#include "core/settings/Settings.h"
#include "support/LocalHttpServer.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace sonabox;
using Terms = std::vector<std::string>;

TEST(Categories, AnnouncementsAreReadWithCare) {
  const std::string head = "<?xml version='1.0' encoding='UTF-8'?><categories>";
  const struct {
    const char *What;
    std::string Text;
    std::optional<Terms> Expected;
  } cases[] = {
      {"the server's form",
       head + "<category term='Loops' count='3'/>\n<category term='R&amp;B &lt;x&gt;' count='1'/>"
              "</categories>",
       Terms{"Loops", "R&B <x>"}},
      {"none", head + "</categories>", Terms{}},
      {"blanks, controls, repeats, Any and empty terms",
       head + "<category term='  World\t'/><category term='WORLD'/><category term='any'/>"
              "<category term='Ev&#9;il'/><category term=''/><category/><other term='X'/>"
              "</categories>",
       Terms{"World", "Evil"}},
      {"a term too long is cut to whole characters",
       head + "<category term='" + std::string(99, 'a') + "é'/></categories>",
       Terms{std::string(99, 'a')}},
      {"not well-formed", head + "<category term='Loops'/>", std::nullopt},
      {"another document", "<feed><category term='Loops'/></feed>", std::nullopt},
      {"an error page", "ERROR", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto &c : cases) EXPECT_EQ(ParseCategories(c.Text), c.Expected) << c.What;

  std::string many = head;
  for (int i = 0; i < 600; ++i) many += "<category term='c" + std::to_string(i) + "'/>";
  EXPECT_EQ(ParseCategories(many + "</categories>")->size(), 500u);
}

TEST(Categories, FetchGivesUpAtItsDeadline) {
  test::TestFolders folders;
  std::string body = "<categories><category term='Loops'/></categories>";
  int status = 200;
  std::chrono::milliseconds delay{0};
  test::LocalHttpServer server; // stopped before what its handler reads goes
  server.Http().Get("/feeds/api/categories", [&](const httplib::Request &, httplib::Response &res) {
    std::this_thread::sleep_for(delay);
    res.status = status;
    res.set_content(body, "application/xml");
  });
  server.Start();
  StoreWriteString(store_key::kVideoDataHost, server.Host());
  EXPECT_EQ(FetchCategories(std::chrono::seconds(5)), Terms{"Loops"});

  status = 404;
  EXPECT_EQ(FetchCategories(std::chrono::seconds(5)), std::nullopt);
  status = 200;
  body = "<html>not this</html>";
  EXPECT_EQ(FetchCategories(std::chrono::seconds(5)), std::nullopt);

  // A good answer that comes too late counts as none.
  body = "<categories><category term='Loops'/></categories>";
  delay = std::chrono::milliseconds(1500);
  EXPECT_EQ(FetchCategories(std::chrono::milliseconds(300)), std::nullopt);
}
