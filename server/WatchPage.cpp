#include "WatchPage.h"

#include "Feed.h"
#include "core/common/TextHelpers.h"

namespace sonabox::server {

std::string WatchPage(const TCatalogueVideo &video) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  AppendXmlEscaped(page, video.Title);
  page += "</title></head>\n<body style=\"font-family: sans-serif\"><h1>";
  AppendXmlEscaped(page, video.Title);
  page += "</h1>\n<video src=\"/v/";
  AppendXmlEscaped(page, video.Id);
  page += "\" controls autoplay width=\"640\" height=\"480\"></video>\n<p>";
  AppendXmlEscaped(page, video.Description);
  page += "</p>\n<p>" + SecondsToText(std::to_string(video.Seconds)) + ", " +
          std::to_string(video.Views) + " views";
  if (!video.Category.empty()) {
    page += ", ";
    AppendXmlEscaped(page, video.Category);
  }
  page += "</p>\n</body></html>\n";
  return page;
}

std::string NoSuchVideoPage() {
  return "<!DOCTYPE html><html><body><p>No such video.</p></body></html>\n";
}

} // namespace sonabox::server
