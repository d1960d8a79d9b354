#include "CupsPolicy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace CupsPolicy
{

namespace
{

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string w; in >> w;)
        result.push_back(lower(w));
    return result;
}

struct Limit {
    std::vector<std::string> operations; // lower case, without the closing ">"
    std::string authType;                // lower case, "" when not set
};

} // namespace

Verdict JobCreation(const std::string& cupsdConf, const std::string& policy)
{
    std::istringstream in(cupsdConf);
    std::string defaultType, line;
    std::vector<Limit> limits;
    bool found = false, inside = false, inLimit = false;
    const std::string wanted = lower(policy);
    while (std::getline(in, line)) {
        std::vector<std::string> w = words(line);
        if (w.empty() || w[0][0] == '#')
            continue;
        if (!w.back().empty() && w.back().back() == '>')
            w.back().pop_back();
        if (w[0] == "defaultauthtype" && w.size() > 1 && !inside) {
            defaultType = w[1];
        } else if (w[0] == "<policy") {
            inside = w.size() > 1 && w[1] == wanted;
            found = found || inside;
            inLimit = false;
        } else if (w[0] == "</policy>" || w[0] == "</policy") {
            inside = inLimit = false;
        } else if (inside && w[0] == "<limit") {
            limits.push_back({std::vector<std::string>(w.begin() + 1, w.end()), std::string()});
            inLimit = true;
        } else if (inside && (w[0] == "</limit>" || w[0] == "</limit")) {
            inLimit = false;
        } else if (inside && inLimit && w[0] == "authtype" && w.size() > 1) {
            limits.back().authType = w[1];
        }
    }
    if (!found)
        return Verdict::Missing;
    const auto governing = [&](const std::string& op) -> const Limit* {
        for (const std::string& name : {op, std::string("all")}) {
            for (const Limit& limit : limits) {
                if (std::find(limit.operations.begin(), limit.operations.end(), name) !=
                    limit.operations.end())
                    return &limit;
            }
        }
        return nullptr;
    };
    const auto asks = [&](const std::string& op) {
        const Limit* limit = governing(op);
        std::string type = limit ? limit->authType : std::string();
        if (type == "default")
            type = defaultType.empty() ? "basic" : defaultType;
        return !type.empty() && type != "none";
    };
    return asks("create-job") && asks("print-job") ? Verdict::Authenticates : Verdict::Open;
}

std::string ConfigPath()
{
    const char* path = std::getenv("ORIX_CUPSD_CONF");
    return path && *path ? path : "/etc/cups/cupsd.conf";
}

} // namespace CupsPolicy
