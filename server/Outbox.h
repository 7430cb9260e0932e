#pragma once
// The outbox: each stored share leaves an e-mail file for its recipient in a
// folder that a mail program of the host may send from; the oldest go when
// the folder holds its limit.
#include "Shares.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace sonabox::server {

// Writes the recipient's notification as an e-mail file into `outbox`
// (created when missing), whole and flushed to disk with its folder, and
// returns its path.
std::filesystem::path WriteShareMail(const std::filesystem::path &outbox, const TShare &share,
                                     std::string_view code);

// Takes back the notification of a share that is gone before it was fetched,
// if the outbox still holds it, so that no mail names a code that answers 404.
void RemoveShareMail(const std::filesystem::path &outbox, std::string_view code);

// Keeps the outbox to at most `keep` notifications: the oldest (by the time
// written) are removed. Returns how many went.
int TrimOutbox(const std::filesystem::path &outbox, int64_t keep);

} // namespace sonabox::server
