#pragma once

// Whether a CUPS server's configuration (the text of its cupsd.conf) makes a
// queue's operation policy authenticate job creation: the Limit that governs
// Create-Job, and the one that governs Print-Job (the Limit naming the
// operation, else "Limit All"), has an AuthType other than None, "Default"
// standing for DefaultAuthType (Basic when unset). Over the local socket the
// authentication is the peer's credentials, so nobody prints under another
// user's name. cups/tavpdf-queue.sh makes the same decision. Plain C++.

#include <string>

namespace CupsPolicy
{

enum class Verdict {
    Authenticates,
    Missing, // no <Policy name> at all
    Open,    // the policy lets job creation through without authentication
};

Verdict JobCreation(const std::string& cupsdConf, const std::string& policy);

// Where the system's server keeps it, or ORIX_CUPSD_CONF (a private server of
// tests and the demo).
std::string ConfigPath();

} // namespace CupsPolicy
