#pragma once
// Per-user settings: the data folders and the remembered share sender, and the
// per-user store of named string and integer values behind them.
//
// The store is an INI file, $XDG_CONFIG_HOME/Tarnwell/Sonabox.ini (by default
// ~/.config/Tarnwell/Sonabox.ini). Besides "shareName" and "shareEmail" it holds
// "declinedBuild" (the update build the user said No to), what the main window
// remembers (its place and size, the page and the playlist shown), the player's
// "volume", "muted" and "evenLoudness", "playMode" (the Play page's choice of
// the next video), and values the program only reads: "ProxyAddr", "ProxyPort",
// the service hosts and "notifyNextVideo".
#include <optional>
#include <string>

namespace sonabox {

// The names of the values in the per-user store.
namespace store_key {
inline constexpr char kShareName[] = "shareName";
inline constexpr char kShareEmail[] = "shareEmail";
inline constexpr char kProxyAddr[] = "ProxyAddr";
inline constexpr char kProxyPort[] = "ProxyPort";
inline constexpr char kVideoDataHost[] = "VideoDataHost";
inline constexpr char kVideoWebHost[] = "VideoWebHost";
inline constexpr char kServiceHost[] = "ServiceHost";
inline constexpr char kDeclinedBuild[] = "declinedBuild";   // the offered build the user said No to
inline constexpr char kSearchCategory[] = "searchCategory"; // the category last chosen for searches
// What the main window remembers between runs.
inline constexpr char kWindowGeometry[] = "windowGeometry";   // "x,y,width,height", not maximized
inline constexpr char kWindowMaximized[] = "windowMaximized"; // 1 or 0
inline constexpr char kPageShown[] = "pageShown";             // "Play", "Find" or "Share"
inline constexpr char kPlayListOpen[] = "playListOpen";       // the playlist open on the Play page
inline constexpr char kNotifyNextVideo[] = "notifyNextVideo"; // 0: no desktop notification
inline constexpr char kVolume[] = "volume";                   // the player's volume, 0-100
inline constexpr char kMuted[] = "muted";                     // 1 when the sound is off
inline constexpr char kEvenLoudness[] = "evenLoudness";       // 1 when loudness is evened out
inline constexpr char kPlayMode[] = "playMode";               // how the next video is chosen: "Shuffle", ...
} // namespace store_key

// The path of the store, resolved anew on every call so that the environment
// decides (tests point XDG_CONFIG_HOME at a folder of their own).
std::string StoreFilePath();

// A string value, or nothing when the value does not exist.
std::optional<std::string> StoreReadString(const std::string &name);

// An integer value, or nothing when the value is missing or not an integer.
std::optional<int> StoreReadInt(const std::string &name);

// Writes a string value, creating the store when missing. Throws
// std::runtime_error when the store cannot be written.
void StoreWriteString(const std::string &name, const std::string &value);

class TSettings {
public:
  // Resolves and creates the data folders, then reads the remembered sender.
  TSettings();

  const std::string &DataPath() const { return dataPath_; }         // ends in "/"
  const std::string &PlayListPath() const { return playListPath_; } // DataPath + "playlists/"
  const std::string &TempPath() const { return tempPath_; }         // DataPath + "temp/"
  const std::string &ShareName() const { return shareName_; }
  const std::string &ShareEmail() const { return shareEmail_; }

  // Writes "shareName", then "shareEmail", then takes both in memory. Throws
  // std::runtime_error, before the values in memory change, when a write fails.
  void SaveShareDetails(const std::string &name, const std::string &email);

private:
  std::string dataPath_, playListPath_, tempPath_, shareName_, shareEmail_;
};

// The process-wide settings of the program, created at start-up before the
// main window and freed by its destruction.
extern TSettings *Settings;

} // namespace sonabox
